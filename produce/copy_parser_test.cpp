// Tests of the template tokenizer: tokens, collection, and the whole-line buffer limits.
#include "produce/copy_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "base/exceptions.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

// Copies the whole source through the tokenizer the way text outside tags is copied.
std::string CopyAll(std::string_view source) {
  std::string out;
  TCopyParser parser(source, &out);
  while (parser.Token() != TCopyParser::kEndToken) {
    parser.CopyToken();
    parser.NextToken(true);
  }
  return out;
}

std::string LineTooLong(int line) { return std::to_string(line) + testing::Sjis(" 行で行が長すぎます"); }

TEST(CopyParserTest, ScansIdentifiersSingleBytesAndTheEnd) {
  std::string out;
  TCopyParser parser(" \r\n_a1b+\x82\xa0 x", &out);
  EXPECT_EQ(out, " \r\n");  // leading blanks are copied on creation
  EXPECT_EQ(parser.Token(), TCopyParser::kSymbolToken);
  EXPECT_EQ(parser.TokenText(), "_a1b");
  EXPECT_EQ(parser.NextToken(false), '+');
  EXPECT_EQ(parser.NextToken(false), 0x82);
  EXPECT_EQ(parser.NextToken(false), 0xa0);
  EXPECT_EQ(parser.NextToken(false), TCopyParser::kSymbolToken);
  EXPECT_EQ(parser.SourceLine(), 2);
  EXPECT_EQ(parser.NextToken(true), TCopyParser::kEndToken);
  EXPECT_EQ(parser.NextToken(true), TCopyParser::kEndToken);  // the end repeats
  EXPECT_EQ(parser.TokenText(), "");
  EXPECT_EQ(out, " \r\n");  // tokens are never written by scanning
}

TEST(CopyParserTest, CollectUntilGathersBlanksAndTokensUpToTheTerminator) {
  TCopyParser parser("#A  b\r\n'c'> rest", nullptr);
  EXPECT_EQ(parser.NextToken(false), TCopyParser::kSymbolToken);  // A
  EXPECT_EQ(parser.CollectUntil('>'), "  b\r\n'c'");
  EXPECT_EQ(parser.Token(), '>');
  EXPECT_EQ(parser.CollectUntil('>'), "");  // already at the terminator
  EXPECT_EQ(parser.NextToken(false), TCopyParser::kSymbolToken);
  EXPECT_EQ(parser.CollectUntil('>'), "");  // runs into the end
  EXPECT_EQ(parser.Token(), TCopyParser::kEndToken);
}

TEST(CopyParserTest, ZeroByteEndsTheText) {
  EXPECT_EQ(CopyAll(std::string_view("ab c\0de", 7)), "ab c");
}

// A long line placed at many offsets relative to the 4096-byte buffer is copied exactly:
// nothing is lost or doubled across refills.
TEST(CopyParserTest, LineOf4094BytesIsAcceptedAnywhere) {
  const std::string long_line = std::string(4093, 'x') + "\r\n";  // 4094 bytes and LF
  for (size_t prefix : {0u, 1u, 2u, 3u, 100u, 2047u, 4092u, 4093u, 4094u, 4095u, 4096u, 5000u, 8190u}) {
    std::string source;
    while (source.size() + 3 <= prefix) source += "ab\n";
    source.append(prefix - source.size(), '\n');  // empty lines, also at a buffer's start
    source += long_line + "a b\r\n" + long_line + long_line + "<z>";
    std::string copied;
    ASSERT_NO_THROW(copied = CopyAll(source)) << "prefix " << prefix;
    EXPECT_BYTES_EQ(source, copied) << "prefix " << prefix;
  }
}

TEST(CopyParserTest, LineTooLongRaisesEParserErrorWithItsLineNumber) {
  struct Case {
    std::string source;
    int line;  // 0: accepted
  };
  const Case cases[] = {
      {std::string(4095, 'x'), 0},               // one line without LF, shorter than the buffer
      {std::string(4096, 'x'), 1},               // fills the buffer without any LF
      {std::string(4095, 'x') + "\n", 1},        // 4095 bytes before the LF
      {std::string(4094, 'x') + "\r\n", 1},      // the CR counts
      {std::string(4094, 'x') + "\n", 0},
      {std::string(5000, 'x') + "\nabc\n", 1},
      {"a\nb\nc\n" + std::string(5000, 'x') + "\n", 4},
      {std::string(3000, 'x') + "\n" + std::string(3000, 'y') + "\n" + std::string(5000, 'z'), 3},
      {"a\n" + std::string(4095, 'x'), 0},       // fewer than 4096 bytes from the line's start
      {"a\n" + std::string(4096, 'x'), 2},
      {"\n" + std::string(4094, 'x') + "\n", 0},  // an empty line ahead of the long one
      {"\n\n" + std::string(5000, 'x') + "\n", 3},
  };
  for (const Case& c : cases) {
    if (c.line == 0) {
      EXPECT_BYTES_EQ(c.source, CopyAll(c.source)) << "size " << c.source.size();
      continue;
    }
    try {
      CopyAll(c.source);
      ADD_FAILURE() << "no error for size " << c.source.size();
    } catch (const EParserError& e) {
      EXPECT_BYTES_EQ(LineTooLong(c.line), e.Message()) << "size " << c.source.size();
    }
  }
}

}  // namespace
}  // namespace shelfra
