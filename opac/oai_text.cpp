// XML escaping, datestamps, set and item names and resumption tokens of the harvesting interface.
#include "opac/oai_text.h"

#include "opac/xml.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "base/sjis_utf8.h"
#include "catalogue/settings.h"

namespace shelfra::opac {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The number of `size` digits at text[at]; -1 when one of them is no digit.
int DigitsAt(std::string_view text, size_t at, size_t size) {
  int n = 0;
  for (size_t i = at; i < at + size; ++i) {
    if (!IsDigit(text[i])) return -1;
    n = n * 10 + (text[i] - '0');
  }
  return n;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The whole number `text` spells as std::to_chars writes it (no "+", no leading zero, "-" only
// before a number other than 0); nothing for any other text.
std::optional<int64_t> Integer(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  char back[24];
  const auto written = std::to_chars(back, back + sizeof back, value);
  if (std::string_view(back, static_cast<size_t>(written.ptr - back)) != text) return std::nullopt;
  return value;
}

void AppendInteger(std::string& out, int64_t value) {
  char text[24];
  const auto written = std::to_chars(text, text + sizeof text, value);
  out.append(text, written.ptr);
}

constexpr std::string_view kFullWidthSemicolon = "\xEF\xBC\x9B";
constexpr std::string_view kFullWidthBlank = "\xE3\x80\x80";

std::string_view TrimBlanks(std::string_view text) {
  for (;;) {
    if (text.starts_with(' ')) {
      text.remove_prefix(1);
    } else if (text.starts_with(kFullWidthBlank)) {
      text.remove_prefix(kFullWidthBlank.size());
    } else if (text.ends_with(' ')) {
      text.remove_suffix(1);
    } else if (text.ends_with(kFullWidthBlank)) {
      text.remove_suffix(kFullWidthBlank.size());
    } else {
      return text;
    }
  }
}

}  // namespace

void AppendElement(std::string& xml, std::string_view name, std::string_view utf8) {
  if (utf8.empty()) return;
  xml.append("<").append(name).append(">").append(XmlEscape(utf8)).append("</").append(name).append(">");
}

std::optional<UtcArgument> ParseUtcArgument(std::string_view text) {
  // "YYYY-MM-DD" (10 bytes) or "YYYY-MM-DDThh:mm:ssZ" (20 bytes), fixed places.
  const bool day = text.size() == 10;
  if (!day && text.size() != 20) return std::nullopt;
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  if (!day && (text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[19] != 'Z')) return std::nullopt;
  std::tm tm{};
  const int year = DigitsAt(text, 0, 4), month = DigitsAt(text, 5, 2), mday = DigitsAt(text, 8, 2);
  if (year < 0 || month < 1 || month > 12 || mday < 1 || mday > DaysInMonth(year, month)) return std::nullopt;
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = mday;
  if (!day) {
    tm.tm_hour = DigitsAt(text, 11, 2);
    tm.tm_min = DigitsAt(text, 14, 2);
    tm.tm_sec = DigitsAt(text, 17, 2);
    if (tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 59) {
      return std::nullopt;
    }
  }
  UtcArgument argument;
  argument.first = ::timegm(&tm);
  argument.last = day ? argument.first + 86399 : argument.first;
  argument.day = day;
  return argument;
}

std::string ClassSet(int digit) { return std::string("class").append(1, static_cast<char>('0' + digit)); }

std::optional<int> ClassOfSet(std::string_view set) {
  if (set.size() != 6 || !set.starts_with("class") || !IsDigit(set[5])) return std::nullopt;
  return set[5] - '0';
}

std::optional<int> ClassDigit(std::string_view class_code) {
  if (class_code.empty() || !IsDigit(class_code[0])) return std::nullopt;
  return class_code[0] - '0';
}

std::string ItemIdentifier(std::string_view repository, int32_t number) {
  std::string identifier = "oai:";
  identifier.append(repository).append(":");
  AppendInteger(identifier, number);
  return identifier;
}

std::optional<int32_t> ItemNumber(std::string_view text) {
  const std::optional<int64_t> number = Integer(text);
  if (!number || *number <= 0 || *number > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*number);
}

std::optional<int32_t> NumberOfIdentifier(std::string_view identifier, std::string_view repository) {
  if (!identifier.starts_with("oai:")) return std::nullopt;
  identifier.remove_prefix(4);
  if (!identifier.starts_with(repository) || identifier.substr(repository.size(), 1) != ":") return std::nullopt;
  return ItemNumber(identifier.substr(repository.size() + 1));
}

bool DomainIdentifier(std::string_view name) {
  if (!RepositoryIdentifierValue(name) || name.find('.') == std::string_view::npos) return false;
  for (size_t at = 0; at != std::string_view::npos && at < name.size();) {
    if (!IsLetter(name[at])) return false;  // also refuses an empty label ("a..b")
    const size_t dot = name.find('.', at);
    at = dot == std::string_view::npos ? dot : dot + 1;
  }
  return true;
}

std::string TokenText(const ListToken& token) {
  std::string text = token.tag;
  text.append(".").append(token.prefix).append(".");
  if (token.set >= 0) text += ClassSet(token.set);
  text += '.';
  if (token.from) AppendInteger(text, *token.from);
  text += '.';
  if (token.until) AppendInteger(text, *token.until);
  for (int64_t number : {token.record, token.cursor, token.size}) {
    text += '.';
    AppendInteger(text, number);
  }
  return text;
}

std::optional<ListToken> ParseToken(std::string_view text) {
  std::vector<std::string_view> fields;
  for (size_t at = 0;;) {
    const size_t dot = text.find('.', at);
    fields.push_back(text.substr(at, dot == std::string_view::npos ? dot : dot - at));
    if (dot == std::string_view::npos) break;
    at = dot + 1;
  }
  if (fields.size() != 8 || fields[0].size() != 16 || fields[1].empty() || fields[1].size() > 32) return std::nullopt;
  ListToken token;
  for (char c : fields[0]) {
    if (!IsDigit(c) && !(c >= 'a' && c <= 'f')) return std::nullopt;
  }
  token.tag = fields[0];
  for (char c : fields[1]) {
    if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '-') return std::nullopt;
  }
  token.prefix = fields[1];
  if (!fields[2].empty()) {
    const std::optional<int> set = ClassOfSet(fields[2]);
    if (!set) return std::nullopt;
    token.set = *set;
  }
  for (auto [field, bound] : {std::pair{fields[3], &token.from}, std::pair{fields[4], &token.until}}) {
    if (field.empty()) continue;
    *bound = Integer(field);
    if (!*bound) return std::nullopt;
  }
  int64_t* const numbers[] = {&token.record, &token.cursor, &token.size};
  for (size_t i = 0; i < 3; ++i) {
    const std::optional<int64_t> number = Integer(fields[5 + i]);
    if (!number || *number < 0) return std::nullopt;
    *numbers[i] = *number;
  }
  return token;
}

std::vector<std::string> SubjectHeadings(std::string_view utf8) {
  std::vector<std::string> headings;
  while (true) {
    const size_t ascii = utf8.find(';');
    const size_t wide = utf8.find(kFullWidthSemicolon);
    const size_t end = std::min(ascii, wide);
    const std::string_view heading = TrimBlanks(utf8.substr(0, end));
    if (!heading.empty()) headings.emplace_back(heading);
    if (end == std::string_view::npos) break;
    utf8.remove_prefix(end + (end == wide ? kFullWidthSemicolon.size() : 1));
  }
  return headings;
}

}  // namespace shelfra::opac
