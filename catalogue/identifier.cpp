// Registration numbers and ISBNs typed as search words.
#include "catalogue/identifier.h"

#include <cstdint>

namespace shelfra {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return !text.empty();
}

// The ISBN-10 check: the digits weighted 10 down to 1 ("X" is 10 and only last) sum to a
// multiple of 11.
bool ValidIsbn10(std::string_view digits) {
  if (digits.size() != 10 || !AllDigits(digits.substr(0, 9))) return false;
  int sum = 0;
  for (size_t i = 0; i < 10; ++i) {
    const char c = digits[i];
    const int value = c == 'X' && i == 9 ? 10 : IsDigit(c) ? c - '0' : -1;
    if (value < 0) return false;
    sum += value * static_cast<int>(10 - i);
  }
  return sum % 11 == 0;
}

// The ISBN-13 check digit of the first twelve digits: weights 1 and 3 in turn.
char Isbn13CheckDigit(std::string_view twelve) {
  int sum = 0;
  for (size_t i = 0; i < 12; ++i) sum += (twelve[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

}  // namespace

std::optional<int32_t> RegistrationNumberWord(std::string_view word) {
  if (word.size() > 12 || !AllDigits(word)) return std::nullopt;
  int64_t number = 0;
  for (char c : word) number = number * 10 + (c - '0');
  if (number > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(number);
}

std::string IsbnKey(std::string_view text) {
  std::string key;
  for (char c : text) {
    if (c == '-' || c == ' ') continue;
    key.push_back(c == 'x' ? 'X' : c);
  }
  if (!ValidIsbn10(key)) return key;
  std::string thirteen = "978" + key.substr(0, 9);
  thirteen.push_back(Isbn13CheckDigit(thirteen));
  return thirteen;
}

bool IsIsbnWord(std::string_view word) {
  const std::string key = IsbnKey(word);
  if (key.size() == 13) return AllDigits(key);
  return key.size() == 10 && AllDigits(key.substr(0, 9)) && (IsDigit(key[9]) || key[9] == 'X');
}

}  // namespace shelfra
