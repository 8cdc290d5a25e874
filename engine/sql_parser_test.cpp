// The statement parser: the trees of conditions and statements, where nodes point into the
// text, and the status of a text it refuses.
#include "engine/sql_parser.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

namespace shelfra {
namespace {

// A condition tree in prefix form: (and A B), (= A B), (not-like A B), (null A), f:field,
// 'text', n:number, true, null, ?.
std::string Show(const SqlExpr& e) {
  using Kind = SqlExpr::Kind;
  static constexpr const char* kOps[] = {"=", "<>", "<", "<=", ">", ">="};
  auto node = [&](std::string head) {
    for (const SqlExpr& child : e.children) head += " " + Show(child);
    return "(" + head + ")";
  };
  switch (e.kind) {
    case Kind::kAnd: return node("and");
    case Kind::kOr: return node("or");
    case Kind::kNot: return node("not");
    case Kind::kCompare: return node(kOps[static_cast<int>(e.op)]);
    case Kind::kLike: return node(e.negated ? "not-like" : "like");
    case Kind::kIsNull: return node(e.negated ? "not-null" : "null");
    case Kind::kField: return "f:" + e.text;
    case Kind::kText: return "'" + e.text + "'";
    case Kind::kNumber: {
      char buffer[32];
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, e.number);
      return "n:" + std::string(buffer, end);
    }
    case Kind::kBool: return e.flag ? "true" : "false";
    case Kind::kNull: return "null";
    case Kind::kParam: return "?";
  }
  return "";
}

TEST(SqlParserTest, ConditionsNestByPrecedence) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"a = 1 or b = 2 and not c = 3", "(or (= f:a n:1) (and (= f:b n:2) (not (= f:c n:3))))"},
      {"(a = 1 or b = 2) and c = 3", "(and (or (= f:a n:1) (= f:b n:2)) (= f:c n:3))"},
      {"a = 1 and b = 2 and c = 3", "(and (and (= f:a n:1) (= f:b n:2)) (= f:c n:3))"},
      {"not not a = b", "(not (not (= f:a f:b)))"},
      {"((a <> 1))", "(<> f:a n:1)"},
      {"a != 1 or a < 1 or a <= 1 or a > 1 or a >= 1",
       "(or (or (or (or (<> f:a n:1) (< f:a n:1)) (<= f:a n:1)) (> f:a n:1)) (>= f:a n:1))"},
      {"a LIKE 'x%' aNd b nOt LiKe \"y\"", "(and (like f:a 'x%') (not-like f:b 'y'))"},
      {"a is null or a IS NOT NULL", "(or (null f:a) (not-null f:a))"},
      {"a = TRUE or b = false or null = c", "(or (or (= f:a true) (= f:b false)) (= null f:c))"},
      {"a = -1.5 or a = + 2 or a = .5 or a = 1e3",
       "(or (or (or (= f:a n:-1.5) (= f:a n:2)) (= f:a n:0.5)) (= f:a n:1000))"},
      {"[select] = ? and [a b] like ?", "(and (= f:select ?) (like f:a b ?))"},
      {"'x' = 'it''s'", "(= 'x' 'it's')"},
      {"\x95\x5C = '\x95\x5C'", "(= f:\x95\x5C '\x95\x5C')"},
  };
  for (const Case& c : cases) {
    SqlExpr e;
    EngineStatus s = ParseCondition(c.text, e);
    ASSERT_TRUE(s.Ok()) << c.text << ": code " << s.code << " at " << s.subject;
    EXPECT_EQ(Show(e), c.expected) << c.text;
  }
}

TEST(SqlParserTest, NodesKeepTheirFirstTokenInTheText) {
  SqlExpr e;
  ASSERT_TRUE(ParseCondition("abc = - 5 or x like 'y'", e).Ok());
  const SqlExpr& compare = e.children[0];
  EXPECT_EQ(e.offset, 10u);  // "or"
  EXPECT_EQ(e.length, 2u);
  EXPECT_EQ(compare.offset, 4u);  // "="
  EXPECT_EQ(compare.children[0].offset, 0u);
  EXPECT_EQ(compare.children[0].length, 3u);
  EXPECT_EQ(compare.children[1].offset, 6u);  // a signed number runs from its sign
  EXPECT_EQ(compare.children[1].length, 3u);
  EXPECT_EQ(e.children[1].children[1].offset, 20u);
  EXPECT_EQ(e.children[1].children[1].length, 3u);
}

TEST(SqlParserTest, SelectNamesItsTableOrderAndParameters) {
  struct Case {
    const char* text;
    const char* table;
    size_t table_offset, table_length;
    const char* where;  // "" for none
    const char* order;  // fields, "-" in front of a descending one
    int params;
  } cases[] = {
      {"select * from t", "t", 14, 1, "", "", 0},
      {"SELECT * FROM t.DBF;", "t.DBF", 14, 5, "", "", 0},
      {"select * from \"x y.dbf\" where a = ?", "x y.dbf", 14, 9, "(= f:a ?)", "", 1},
      {"select * from [t] order by a, b desc, c asc", "t", 14, 3, "", "a -b c", 0},
      {"select * from \x95\x5C.DBF where a = ? or b = ? order by [\x81\x5D] desc", "\x95\x5C.DBF", 14, 6,
       "(or (= f:a ?) (= f:b ?))", "-\x81\x5D", 2},
      {"select\r\n*\r\nfrom t\r\nwhere a like 'x' ;", "t", 16, 1, "(like f:a 'x')", "", 0},
  };
  for (const Case& c : cases) {
    SqlSelect select;
    EngineStatus s = ParseSelect(c.text, select);
    ASSERT_TRUE(s.Ok()) << c.text << ": code " << s.code << " at " << s.subject;
    EXPECT_EQ(select.table, c.table) << c.text;
    EXPECT_EQ(select.table_offset, c.table_offset) << c.text;
    EXPECT_EQ(select.table_length, c.table_length) << c.text;
    EXPECT_EQ(select.where ? Show(*select.where) : "", c.where) << c.text;
    std::string order;
    for (const SqlOrderItem& item : select.order_by) {
      order += (order.empty() ? "" : " ") + std::string(item.descending ? "-" : "") + item.field;
    }
    EXPECT_EQ(order, c.order) << c.text;
    EXPECT_EQ(select.param_count, c.params) << c.text;
  }
}

TEST(SqlParserTest, RefusedTextsNameTheTokenWhereTheyGoWrong) {
  struct Case {
    bool select;  // ParseSelect, else ParseCondition
    const char* text;
    uint16_t code;
    const char* token;  // nullptr: the end of the text
    int line, column;
  } cases[] = {
      {false, "a =", kStatusSyntaxError, nullptr, 1, 4},
      {false, "a = 'x", kStatusUnterminatedText, "'x", 1, 5},
      {false, "a lik 'x'", kStatusSyntaxError, "lik", 1, 3},
      {false, "a not = 1", kStatusSyntaxError, "=", 1, 7},
      {false, "a is not 1", kStatusSyntaxError, "1", 1, 10},
      {false, "a = - 'x'", kStatusSyntaxError, "'x'", 1, 7},
      {false, "a = 1 #", kStatusSyntaxError, "#", 1, 7},
      {false, "(a = 1", kStatusSyntaxError, nullptr, 1, 7},
      {false, "a = 1)", kStatusSyntaxError, ")", 1, 6},
      {false, "a = 'x' extra", kStatusSyntaxError, "extra", 1, 9},
      {false, "a", kStatusSyntaxError, nullptr, 1, 2},
      {false, "select = 1", kStatusSyntaxError, "select", 1, 1},  // a keyword is no field name
      // The lexer's fault wins over the parser's at the same token.
      {false, "a = 1 and [b", kStatusUnterminatedText, "[b", 1, 11},
      {false, "\x95\x5C = 1 \x80", kStatusSyntaxError, "\x80", 1, 8},
      {true, "select a from t", kStatusUnsupported, "a", 1, 8},
      {true, "select * form t", kStatusSyntaxError, "form", 1, 10},
      {true, "select * from", kStatusSyntaxError, nullptr, 1, 14},
      {true, "select * from t order by", kStatusSyntaxError, nullptr, 1, 25},
      {true, "select * from t order by a,", kStatusSyntaxError, nullptr, 1, 28},
      {true, "select * from t; x", kStatusSyntaxError, "x", 1, 18},
      {true, "select * from t\r\nwhere a =", kStatusSyntaxError, nullptr, 2, 10},
      {true, "select * from t\r\nwhere a = 'x\r\nor b", kStatusUnterminatedText, "'x", 2, 11},
  };
  for (const Case& c : cases) {
    EngineStatus s;
    if (c.select) {
      SqlSelect select;
      s = ParseSelect(c.text, select);
    } else {
      SqlExpr e;
      s = ParseCondition(c.text, e);
    }
    EXPECT_EQ(s.code, c.code) << c.text;
    EXPECT_EQ(s.fault, EngineFault::kStatement) << c.text;
    EXPECT_EQ(s.at_end, c.token == nullptr) << c.text;
    EXPECT_EQ(s.subject, c.token == nullptr ? "" : c.token) << c.text;
    EXPECT_EQ(s.first, c.line) << c.text;
    EXPECT_EQ(s.second, c.column) << c.text;
  }
}

}  // namespace
}  // namespace shelfra
