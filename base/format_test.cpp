#include "base/format.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

TEST(FormatTest, ExpandsTextsNumbersAndPrecision) {
  EXPECT_EQ(Format("<A HREF=\"%s/Detail?NO=%s\">%s</A>", {"/cgi", "12", "12"}),
            "<A HREF=\"/cgi/Detail?NO=12\">12</A>");
  EXPECT_EQ(Format("%d", {-42}), "-42");
  EXPECT_EQ(Format("%.6d", {123}), "000123");
  EXPECT_EQ(Format("%.6d", {-123}), "-000123");
  EXPECT_EQ(Format("%.0d", {123}), "123");
  EXPECT_EQ(Format("%.2d", {123}), "123");
  EXPECT_EQ(Format("%.16d", {1}), "0000000000000001");
  EXPECT_EQ(Format("%.17d", {1}), "1");  // above 16: no padding at all
  EXPECT_EQ(Format("%.20d", {123}), "123");
  EXPECT_EQ(Format("%.4x", {0x2A0B}), "2A0B");
  EXPECT_EQ(Format("%.4x", {0x1}), "0001");
  EXPECT_EQ(Format("%1:d lines %0:s", {"msg", 7}), "7 lines msg");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%d", {INT32_MIN}), "-2147483648");
}

TEST(FormatTest, MalformedFormatRaisesEConvertErrorNamingTheFormat) {
  const char* bad[] = {"%.-6d", "%q", "%", "%.d", "%s", "%d and %d"};
  for (const char* f : bad) {
    try {
      if (std::string_view(f) == "%s") {
        Format(f, {5});  // integer for a text directive
      } else {
        Format(f, {5});
      }
      ADD_FAILURE() << "no exception for " << f;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), testing::Sjis("書式文字列 '" + std::string(f) + "' は正しくないか引数の型と一致しません"))
          << f;
    }
  }
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
}

}  // namespace
}  // namespace shelfra
