// Tokens of the engine's statements and filters.
#include "engine/sql_lexer.h"

#include "base/text.h"

namespace shelfra {

namespace {

bool IsHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

bool IsNameByte(unsigned char c) {
  return IsAsciiAlpha(c) || IsAsciiDigit(c) || c == '_' || IsSjisLeadByte(c) || IsHalfWidthKana(c);
}

SqlToken Make(SqlToken::Kind kind, std::string_view text, size_t start, size_t end) {
  SqlToken t;
  t.kind = kind;
  t.offset = start;
  t.length = end - start;
  t.value = std::string(text.substr(start, end - start));
  return t;
}

SqlToken Bad(uint16_t code, std::string_view text, size_t start, size_t end) {
  SqlToken t = Make(SqlToken::Kind::kBad, text, start, end);
  t.error = code;
  return t;
}

// A text constant starting at the quote at `i`: its value in `value` (a doubled quote inside
// stands for one quote character, a double-byte character is taken whole); `i` ends past the
// closing quote, or at the end of the text when there is none. True when it was closed.
bool ScanQuoted(std::string_view text, size_t& i, std::string& value) {
  const unsigned char quote = static_cast<unsigned char>(text[i]);
  const size_t n = text.size();
  ++i;
  while (i < n) {
    if (SjisPairAt(text, i)) {
      value.append(text, i, 2);
      i += 2;
    } else if (static_cast<unsigned char>(text[i]) == quote) {
      if (i + 1 < n && static_cast<unsigned char>(text[i + 1]) == quote) {
        value.push_back(static_cast<char>(quote));
        i += 2;
      } else {
        ++i;
        return true;
      }
    } else {
      value.push_back(text[i++]);
    }
  }
  return false;
}

// The end of the number starting at `i`: digits, an optional point and digits, and an
// exponent only when digits follow its letter and sign.
size_t ScanNumber(std::string_view text, size_t i) {
  const size_t n = text.size();
  while (i < n && IsAsciiDigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsAsciiDigit(static_cast<unsigned char>(text[i]))) ++i;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && IsAsciiDigit(static_cast<unsigned char>(text[j]))) {
      i = j;
      while (i < n && IsAsciiDigit(static_cast<unsigned char>(text[i]))) ++i;
    }
  }
  return i;
}

}  // namespace

void SqlPosition(std::string_view text, size_t offset, int& line, int& column) {
  line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  column = static_cast<int>(offset - line_start) + 1;
}

EngineStatus SqlError(uint16_t code, std::string_view text, const SqlToken& token) {
  EngineStatus s;
  s.code = code;
  s.fault = EngineFault::kStatement;
  s.at_end = token.kind == SqlToken::Kind::kEnd;
  if (!s.at_end) {
    std::string_view shown = text.substr(token.offset, token.length);
    s.subject = std::string(shown.substr(0, shown.find_first_of("\r\n")));  // an unterminated constant runs to the end
  }
  int line = 0;
  int column = 0;
  SqlPosition(text, token.offset, line, column);
  s.first = line;
  s.second = column;
  return s;
}

std::vector<SqlToken> SqlLexer::Tokenize(std::string_view text) {
  std::vector<SqlToken> tokens;
  size_t i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    if (i >= n) break;
    const size_t start = i;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\'') {
      std::string value;
      bool closed = ScanQuoted(text, i, value);
      if (!closed) {
        tokens.push_back(Bad(kStatusUnterminatedText, text, start, i));
        break;
      }
      SqlToken t = Make(SqlToken::Kind::kText, text, start, i);
      t.value = std::move(value);
      tokens.push_back(std::move(t));
    } else if (c == '[') {
      size_t close = start + 1;
      while (close < n && text[close] != ']') close += SjisPairAt(text, close) ? 2 : 1;
      if (close >= n) {
        tokens.push_back(Bad(kStatusUnterminatedText, text, start, n));
        break;
      }
      SqlToken t = Make(SqlToken::Kind::kBracketName, text, start, close + 1);
      t.value = std::string(text.substr(start + 1, close - start - 1));
      tokens.push_back(std::move(t));
      i = close + 1;
    } else if (IsAsciiDigit(c) || (c == '.' && i + 1 < n && IsAsciiDigit(static_cast<unsigned char>(text[i + 1])))) {
      i = ScanNumber(text, i);
      tokens.push_back(Make(SqlToken::Kind::kNumber, text, start, i));
    } else if (IsNameByte(c)) {
      while (i < n && IsNameByte(static_cast<unsigned char>(text[i]))) {
        i += SjisPairAt(text, i) ? 2 : 1;
      }
      tokens.push_back(Make(SqlToken::Kind::kName, text, start, i));
    } else if (c == '?') {
      tokens.push_back(Make(SqlToken::Kind::kParam, text, start, ++i));
    } else if (c == '<' && i + 1 < n && (text[i + 1] == '>' || text[i + 1] == '=')) {
      i += 2;
      tokens.push_back(Make(SqlToken::Kind::kSymbol, text, start, i));
    } else if ((c == '>' || c == '!') && i + 1 < n && text[i + 1] == '=') {
      i += 2;
      tokens.push_back(Make(SqlToken::Kind::kSymbol, text, start, i));
    } else if (c == '(' || c == ')' || c == ',' || c == ';' || c == '*' || c == '.' || c == '+' || c == '-' ||
               c == '=' || c == '<' || c == '>') {
      tokens.push_back(Make(SqlToken::Kind::kSymbol, text, start, ++i));
    } else {
      size_t width = SjisPairAt(text, i) ? 2 : 1;
      tokens.push_back(Bad(kStatusSyntaxError, text, start, start + width));
      break;
    }
  }
  SqlToken end;
  end.offset = n;
  tokens.push_back(end);
  return tokens;
}

}  // namespace shelfra
