// Field splitting and escape decoding.
#include "web/http_fields.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "base_res.h"

namespace shelfra {

namespace {

bool In(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

void AddEntry(std::string_view entry, TStrings& list, bool decode, bool remove_quotes) {
  if (entry.empty()) return;
  std::string item = decode ? DecodeEscapes(entry) : std::string(entry);
  if (remove_quotes) {
    std::string stripped;
    stripped.reserve(item.size());
    for (char c : item) {
      if (c != '"' && c != '\'') stripped.push_back(c);
    }
    item = std::move(stripped);
  }
  list.Add(std::move(item));
}

}  // namespace

void SplitFields(std::string_view separators, std::string_view white_space, std::string_view text, TStrings& list,
                 bool decode, bool remove_quotes) {
  size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  const size_t n = text.size();
  if (n == 0) return;
  size_t p = 0;
  for (;;) {
    while (p < n && (In(white_space, text[p]) || text[p] == '\r' || text[p] == '\n')) ++p;
    size_t start = p;
    size_t q = p;
    size_t entry_end = n;
    size_t stop = n;  // the byte that ends the entry; n when the text ended
    while (q < n) {
      char c = text[q];
      if (c == '"') {
        bool leading = q == start;
        if (leading) start = q + 1;
        size_t close = text.find('"', q + 1);
        if (close == std::string_view::npos) {
          q = n;  // unterminated quote: the rest of the text
          break;
        }
        if (leading) {
          entry_end = close;  // the closing quote ends the entry and is dropped
          stop = close;
        } else {
          entry_end = close + 1;  // the closing quote belongs to the entry
          stop = close + 1;       // the byte after it ends the entry
        }
        q = stop;
        break;
      }
      if (In(separators, c) || c == '\r' || c == '\n') {
        entry_end = q;
        stop = q;
        break;
      }
      ++q;
    }
    if (q >= n && stop >= n) {
      entry_end = n;
      stop = n;
    }
    AddEntry(text.substr(start, entry_end - start), list, decode, remove_quotes);
    if (stop >= n) return;
    p = stop + 1;
  }
}

std::string DecodeEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out.push_back('%');
      ++i;
    } else {
      int hi = i + 1 < text.size() ? HexDigitValue(static_cast<unsigned char>(text[i + 1])) : -1;
      int lo = i + 2 < text.size() ? HexDigitValue(static_cast<unsigned char>(text[i + 2])) : -1;
      if (hi < 0 || lo < 0) {
        std::string bad = "$";
        bad.append(text.substr(i + 1, 2));
        throw EConvertError(Format(res::base::kNotAnInteger, {bad}));
      }
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    }
  }
  return out;
}

}  // namespace shelfra
