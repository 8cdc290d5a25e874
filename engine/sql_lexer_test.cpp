// The statement lexer: tokens with their offsets, Shift_JIS bytes inside names, constants and
// brackets, the tokens it cannot read, and the positions errors report.
#include "engine/sql_lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace shelfra {
namespace {

// The tokens as "kind:value@offset+length", blank-separated; kBad shows its status code.
std::string Show(const std::vector<SqlToken>& tokens) {
  std::string out;
  for (const SqlToken& t : tokens) {
    static constexpr const char* kKinds[] = {"end", "name", "bracket", "text", "number", "param", "symbol", "bad"};
    if (!out.empty()) out += ' ';
    out += kKinds[static_cast<int>(t.kind)];
    if (t.kind == SqlToken::Kind::kBad) out += "(" + std::to_string(t.error) + ")";
    if (t.kind != SqlToken::Kind::kEnd) out += ":" + t.value;
    out += "@" + std::to_string(t.offset) + "+" + std::to_string(t.length);
  }
  return out;
}

TEST(SqlLexerTest, SplitsTextsIntoTokensWithTheirPlaces) {
  const std::string unterminated = std::to_string(kStatusUnterminatedText);
  const std::string syntax = std::to_string(kStatusSyntaxError);
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"", "end@0+0"},
      {" \t\r\n", "end@4+0"},
      {"a=1", "name:a@0+1 symbol:=@1+1 number:1@2+1 end@3+0"},
      {"_a1 1a", "name:_a1@0+3 number:1@4+1 name:a@5+1 end@6+0"},
      {"<> != <= >= < > ! =", "symbol:<>@0+2 symbol:!=@3+2 symbol:<=@6+2 symbol:>=@9+2 symbol:<@12+1 symbol:>@14+1 "
                              "bad(" + syntax + "):!@16+1 end@19+0"},
      {"(),;*.+-?", "symbol:(@0+1 symbol:)@1+1 symbol:,@2+1 symbol:;@3+1 symbol:*@4+1 symbol:.@5+1 symbol:+@6+1 "
                    "symbol:-@7+1 param:?@8+1 end@9+0"},
      // Numbers: a leading point, and an exponent only when digits follow its letter.
      {"1.5 .5 1. 1e3 1E-3 1e 1e+", "number:1.5@0+3 number:.5@4+2 number:1.@7+2 number:1e3@10+3 number:1E-3@14+4 "
                                    "number:1@19+1 name:e@20+1 number:1@22+1 name:e@23+1 symbol:+@24+1 end@25+0"},
      {"t.DBF", "name:t@0+1 symbol:.@1+1 name:DBF@2+3 end@5+0"},
      // Text constants: a doubled quote is one, the other quote is a plain byte.
      {"'it''s' \"a\"\"b\" '\"' \"'\"", "text:it's@0+7 text:a\"b@8+6 text:\"@15+3 text:'@19+3 end@22+0"},
      {"''", "text:@0+2 end@2+0"},
      {"a = 'abc", "name:a@0+1 symbol:=@2+1 bad(" + unterminated + "):'abc@4+4 end@8+0"},
      {"'abc''", "bad(" + unterminated + "):'abc''@0+6 end@6+0"},
      {"[a b] [] [select]", "bracket:a b@0+5 bracket:@6+2 bracket:select@9+8 end@17+0"},
      {"[a b", "bad(" + unterminated + "):[a b@0+4 end@4+0"},
      // A byte that starts no token ends the tokens.
      {"a # b", "name:a@0+1 bad(" + syntax + "):#@2+1 end@5+0"},
      {"a\x80", "name:a@0+1 bad(" + syntax + "):\x80@1+1 end@2+0"},
      {"\xFD" "a", "bad(" + syntax + "):\xFD@0+1 end@2+0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(SqlLexer::Tokenize(c.text)), c.expected) << c.text;
}

TEST(SqlLexerTest, DoubleByteCharactersStayWholeWhateverTheirTrailByte) {
  // Trail bytes 0x40-0x7E (among them 0x5C "\", 0x5D "]", 0x7C "|") and 0x80-0xFC, after lead
  // bytes from both ranges 0x81-0x9F and 0xE0-0xFC.
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"\x95\x5C=1", "name:\x95\x5C@0+2 symbol:=@2+1 number:1@3+1 end@4+0"},
      {"\x83\x5C\x83\x74\x83\x67", "name:\x83\x5C\x83\x74\x83\x67@0+6 end@6+0"},
      {"\x81\x40\x81\x7C\x81\x80\x9F\xFC\xE0\x40\xFC\xFC",
       "name:\x81\x40\x81\x7C\x81\x80\x9F\xFC\xE0\x40\xFC\xFC@0+12 end@12+0"},
      {"\xB6\xC5 \xB6\xDE", "name:\xB6\xC5@0+2 name:\xB6\xDE@3+2 end@5+0"},  // half-width katakana
      {"a\x81\x5D", "name:a\x81\x5D@0+3 end@3+0"},
      // In constants a trail 0x5C is no escape and a trail byte is never the closing quote.
      {"'\x95\x5C' \"\x95\x5C\"", "text:\x95\x5C@0+4 text:\x95\x5C@5+4 end@9+0"},
      {"'\x95\x5C''x'", "text:\x95\x5C'x@0+7 end@7+0"},
      // A bracket closes only outside a character: 0x81 0x5D is one.
      {"[\x81\x5D] = 1", "bracket:\x81\x5D@0+4 symbol:=@5+1 number:1@7+1 end@8+0"},
      {"[\x81\x5D", "bad(" + std::to_string(kStatusUnterminatedText) + "):[\x81\x5D@0+3 end@3+0"},
      // A lead byte before a byte that is no trail byte (a quote, a blank, the end) is a
      // character of its own.
      {"'\x81'", "text:\x81@0+3 end@3+0"},
      {"\x81'x'", "name:\x81@0+1 text:x@1+3 end@4+0"},
      {"\x81 \x81", "name:\x81@0+1 name:\x81@2+1 end@3+0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(SqlLexer::Tokenize(c.text)), c.expected) << c.text;
}

TEST(SqlErrorTest, NamesTheTokenOnItsFirstLineWithLineAndColumn) {
  const std::string text = "select *\r\nfrom t\r\nwhere a = 'x\r\ny";
  const std::vector<SqlToken> tokens = SqlLexer::Tokenize(text);
  ASSERT_EQ(tokens.size(), 9u);
  EngineStatus s = SqlError(kStatusUnterminatedText, text, tokens[7]);
  EXPECT_EQ(s.code, kStatusUnterminatedText);
  EXPECT_EQ(s.fault, EngineFault::kStatement);
  EXPECT_EQ(s.subject, "'x");  // the constant runs on to the end, the subject stops at its line
  EXPECT_EQ(s.first, 3);
  EXPECT_EQ(s.second, 11);
  EXPECT_FALSE(s.at_end);

  s = SqlError(kStatusSyntaxError, "a =\n", SqlLexer::Tokenize("a =\n").back());
  EXPECT_TRUE(s.at_end);
  EXPECT_EQ(s.subject, "");
  EXPECT_EQ(s.first, 2);
  EXPECT_EQ(s.second, 1);

  // Columns count bytes: a double-byte character takes two.
  int line = 0, column = 0;
  SqlPosition("\x95\x5C\x8E\xA6 = x", 7, line, column);
  EXPECT_EQ(line, 1);
  EXPECT_EQ(column, 8);
}

}  // namespace
}  // namespace shelfra
