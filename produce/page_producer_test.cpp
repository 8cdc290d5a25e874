// Tests of the template producers: expansion, tag names, parameters, kinds and sources.
#include "produce/page_producer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/exceptions.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;
using testing::Utf8;

struct ExpansionCase {
  std::string input;
  std::string output;
  std::string log;  // "[kind:name(param|param)]" per handler call
  bool strip_quotes = true;
};

class PageProducerTest : public ::testing::Test {
 protected:
  // A handler that logs every call and replaces each tag by "{name}".
  void LogAndReplace() {
    producer_.OnHTMLTag = [this](TComponent& sender, TTag tag, const std::string& tag_string, TStrings& tag_params,
                                 std::string& replace_text) {
      EXPECT_EQ(&sender, &producer_);
      EXPECT_EQ(replace_text, "");
      log_ += "[" + std::to_string(static_cast<int>(tag)) + ":" + tag_string + "(";
      for (int i = 0; i < tag_params.Count(); ++i) log_ += (i > 0 ? "|" : "") + tag_params[i];
      log_ += ")]";
      replace_text = "{" + tag_string + "}";
    };
  }

  TComponent root_{nullptr};
  TPageProducer& producer_ = root_.Create<TPageProducer>("PageProducer1");
  std::string log_;
};

TEST_F(PageProducerTest, ExpandsTagsInTemplateOrder) {
  const ExpansionCase cases[] = {
      {"abc\r\n  def\r\n\r\n", "abc\r\n  def\r\n\r\n", ""},
      {"  \r\nx", "  \r\nx", ""},
      {"<#VadozMes>", "{VadozMes}", "[0:VadozMes()]"},
      {"<#Name>", "{Name}", "[0:Name()]"},
      {"< #Name>", "{Name}", "[0:Name()]"},
      {"<# Name >", "{Name}", "[0:Name()]"},
      {"<#name>", "{name}", "[0:name()]"},
      {"<#link><#image><#Table><#ImageMap><#OBJECT><#embed><#images>",
       "{link}{image}{Table}{ImageMap}{OBJECT}{embed}{images}",
       "[1:link()][2:image()][3:Table()][4:ImageMap()][5:OBJECT()][6:embed()][0:images()]"},
      {"<#NDC10>", "{NDC10}", "[0:NDC10()]"},
      {"<#1abc>", "{1}", "[0:1(abc)]"},
      {"<#" + Sjis("書名") + ">", "{\x8f}", "[0:\x8f(\x91\x96\xbc)]"},
      {"<#Img src=\"a b.gif\" alt=x>", "{Img}", "[0:Img(src=a b.gif|alt=x)]"},
      {"<#Img src=\"a b.gif\" alt=x>", "{Img}", "[0:Img(src=\"a b.gif\"|alt=x)]", false},
      {"<#T a='x y'>", "{T}", "[0:T(a=x|y)]"},
      {"<#T q=a+b%21>", "{T}", "[0:T(q=a b!)]"},
      {"<#T a=\"b\"c d>", "{T}", "[0:T(a=b|d)]"},
      {"<#T a\r\nb\tc>", "{T}", "[0:T(a|b\tc)]"},
      {"<#T a=\"x>y\" z>", "{T}y\" z>", "[0:T(a=x)]"},
      {"i < 5", "i <5", ""},
      {"i<=85", "i<=85", ""},
      {"<<#T>", "<<#T>", ""},
      {"a<", "a<", ""},
      {"x<#", "x{}", "[0:()]"},
      {"x<#T a b", "x{T}", "[0:T(a|b)]"},
      {"<#>rest", "{>}rest", "[0:>()]"},
      {"<#A <#B>>", "{A}>", "[0:A(<#B)]"},
      {"<#A>  \r\n<#B> <#A>", "{A}  \r\n{B} {A}", "[0:A()][0:B()][0:A()]"},
      {std::string("a<#A>\0<#B>", 10), "a{A}", "[0:A()]"},
  };
  LogAndReplace();
  for (const ExpansionCase& c : cases) {
    log_.clear();
    producer_.SetStripParamQuotes(c.strip_quotes);
    std::string output = producer_.ProduceFromString(c.input);
    EXPECT_BYTES_EQ(c.output, output) << Utf8(c.input);
    EXPECT_BYTES_EQ(c.log, log_) << Utf8(c.input);
  }
}

TEST_F(PageProducerTest, UnansweredTagsVanish) {
  EXPECT_EQ(producer_.ProduceFromString("x<#VadozMes>y<#T a=1>z"), "xyz");
  producer_.OnHTMLTag = [](TComponent&, TTag, const std::string&, TStrings&, std::string&) {};
  EXPECT_EQ(producer_.ProduceFromString("x<#VadozMes>y"), "xy");
}

TEST_F(PageProducerTest, HTMLDocLinesEndWithCrLf) {
  LogAndReplace();
  EXPECT_EQ(producer_.ProduceContent(), "");
  producer_.SetHTMLDoc(TStrings{"a", "<#B>"});
  EXPECT_EQ(producer_.ProduceContent(), "a\r\n{B}\r\n");
  EXPECT_EQ(producer_.ProduceContent(), "a\r\n{B}\r\n");  // asked again, reads again
  EXPECT_EQ(log_, "[0:B()][0:B()]");
}

TEST_F(PageProducerTest, HTMLFileIsReadAndReplacesTheDoc) {
  const std::string path = ::testing::TempDir() + "page_producer_test.htm";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("<p><#A></p>\r\n", f);
  std::fclose(f);

  LogAndReplace();
  producer_.SetHTMLDoc(TStrings{"doc"});
  producer_.SetHTMLFile(path);
  EXPECT_TRUE(producer_.HTMLDoc().Empty());
  EXPECT_EQ(producer_.ProduceContent(), "<p>{A}</p>\r\n");
  std::remove(path.c_str());

  producer_.SetHTMLFile("missing.htm");
  try {
    producer_.ProduceContent();
    ADD_FAILURE() << "no error for a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_BYTES_EQ(Sjis("ファイル missing.htm は開けません"), e.Message());
  }
}

TEST_F(PageProducerTest, HTMLFileNameDifferingOnlyInCaseIsNotStored) {
  producer_.SetHTMLFile("a.htm");
  producer_.HTMLDoc().Add("kept");
  producer_.SetHTMLFile("A.HTM");
  EXPECT_EQ(producer_.HTMLFile(), "a.htm");
  EXPECT_EQ(producer_.HTMLDoc().Count(), 1);
  producer_.SetHTMLFile("b.htm");
  EXPECT_TRUE(producer_.HTMLDoc().Empty());
  producer_.SetHTMLDoc(TStrings{"x"});
  EXPECT_EQ(producer_.HTMLFile(), "");
}

TEST_F(PageProducerTest, ErrorsLeaveTheExpansion) {
  try {
    producer_.ProduceFromString("a<#T a=%4G>b");
    ADD_FAILURE() << "no error for a malformed escape";
  } catch (const EConvertError& e) {
    EXPECT_BYTES_EQ(Sjis("'$4G' は整数ではありません"), e.Message());
  }
  int calls = 0;
  producer_.OnHTMLTag = [&calls](TComponent&, TTag, const std::string&, TStrings&, std::string&) {
    ++calls;
    throw EConvertError("handler");
  };
  EXPECT_THROW(producer_.ProduceFromString("a<#A><#B>"), EConvertError);
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(producer_.ProduceFromString("ok\n" + std::string(5000, 'x') + "\n"), EParserError);
}

// A process expands the same templates request after request: each time is as the first, the
// tags before a fault are still resolved, a handler's changes to the parameters stay its own,
// and a handler may expand other templates meanwhile.
TEST_F(PageProducerTest, ExpandingAgainIsExpandingAnew) {
  const std::string too_long = "<#A a=1>\n" + std::string(5000, 'x') + "\n";
  std::string nested_log;
  producer_.OnHTMLTag = [&](TComponent&, TTag, const std::string& tag_string, TStrings& tag_params,
                            std::string& replace_text) {
    nested_log += tag_string + "(" + (tag_params.Count() > 0 ? tag_params[0] : "") + ")";
    if (tag_params.Count() > 0) tag_params.Clear();
    if (tag_string != "N") return;
    TComponent other_root(nullptr);
    TPageProducer& other = other_root.Create<TPageProducer>("Other");
    for (int i = 0; i < 100; ++i) replace_text = other.ProduceFromString("<" + std::to_string(i) + ">");
  };
  for (int round = 0; round < 2; ++round) {
    nested_log.clear();
    EXPECT_THROW(producer_.ProduceFromString(too_long), EParserError);
    EXPECT_EQ(producer_.ProduceFromString("a<#A a=1>b<#N>c"), "ab<99>c");
    EXPECT_EQ(nested_log, "A(a=1)A(a=1)N()") << "round " << round;
  }
}

TEST(CustomPageProducerTest, BaseResolveTagKeepsTheNameOnly) {
  TComponent root(nullptr);
  TCustomPageProducer& producer = root.Create<TCustomPageProducer>("P");
  EXPECT_EQ(producer.ProduceFromString("a<#Name x=1 y=2>b"), "a<#Name>b");
}

}  // namespace
}  // namespace shelfra
