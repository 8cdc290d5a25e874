// Recursive-descent parser of the engine's statements and filters.
#include "engine/sql_parser.h"

#include <charconv>

#include "base/text.h"
#include "engine/sql_lexer.h"

namespace shelfra {

namespace {

using Kind = SqlToken::Kind;

constexpr std::string_view kKeywords[] = {"SELECT", "FROM", "WHERE", "AND",  "OR",   "NOT",   "LIKE", "ORDER",
                                          "BY",     "ASC",  "DESC",  "TRUE", "FALSE", "NULL", "IS"};

bool IsKeyword(const SqlToken& t) {
  if (t.kind != Kind::kName) return false;
  for (std::string_view k : kKeywords) {
    if (SameTextAscii(t.value, k)) return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), tokens_(SqlLexer::Tokenize(text)) {}

  SqlSelect Select() {
    SqlSelect select;
    ExpectWord("SELECT");
    if (!IsSymbol(Peek(), "*")) Fail(kStatusUnsupported);
    Take();
    ExpectWord("FROM");
    TableName(select);
    if (IsWord(Peek(), "WHERE")) {
      Take();
      select.where = Or();
    }
    if (IsWord(Peek(), "ORDER")) {
      Take();
      ExpectWord("BY");
      while (true) {
        const SqlToken& t = Peek();
        if (!IsFieldName(t)) Fail(kStatusSyntaxError);
        SqlOrderItem item{t.value, false, t.offset, t.length};
        Take();
        if (IsWord(Peek(), "ASC")) {
          Take();
        } else if (IsWord(Peek(), "DESC")) {
          item.descending = true;
          Take();
        }
        select.order_by.push_back(std::move(item));
        if (!IsSymbol(Peek(), ",")) break;
        Take();
      }
    }
    if (IsSymbol(Peek(), ";")) Take();
    ExpectEnd();
    select.param_count = param_count_;
    return select;
  }

  SqlExpr Condition() {
    SqlExpr e = Or();
    ExpectEnd();
    return e;
  }

 private:
  const SqlToken& Peek() const { return tokens_[pos_]; }
  const SqlToken& Take() {
    const SqlToken& t = tokens_[pos_];
    if (t.kind != Kind::kEnd) ++pos_;
    return t;
  }
  // Fails with `code` at the next token; a token the lexer could not read fails with its own.
  [[noreturn]] void Fail(uint16_t code) const {
    throw SqlFailure{SqlError(Peek().kind == Kind::kBad ? Peek().error : code, text_, Peek())};
  }

  static bool IsWord(const SqlToken& t, std::string_view word) {
    return t.kind == Kind::kName && SameTextAscii(t.value, word);
  }
  static bool IsSymbol(const SqlToken& t, std::string_view symbol) {
    return t.kind == Kind::kSymbol && t.value == symbol;
  }
  static bool IsFieldName(const SqlToken& t) {
    return (t.kind == Kind::kName && !IsKeyword(t)) || t.kind == Kind::kBracketName;
  }
  void ExpectWord(std::string_view word) {
    if (!IsWord(Peek(), word)) Fail(kStatusSyntaxError);
    Take();
  }
  void ExpectEnd() const {
    if (Peek().kind != Kind::kEnd) Fail(kStatusSyntaxError);
  }

  void TableName(SqlSelect& select) {
    const SqlToken& first = Peek();
    if (!IsFieldName(first) && first.kind != Kind::kText) Fail(kStatusSyntaxError);
    select.table = first.value;
    select.table_offset = first.offset;
    size_t end = first.offset + first.length;
    Take();
    // A name written with its extension: <name>.DBF
    if (first.kind == Kind::kName && IsSymbol(Peek(), ".") && tokens_[pos_ + 1].kind == Kind::kName) {
      Take();
      const SqlToken& extension = Take();
      select.table += ".";
      select.table += extension.value;
      end = extension.offset + extension.length;
    }
    select.table_length = end - select.table_offset;
  }

  SqlExpr Node(SqlExpr::Kind kind, const SqlToken& at) {
    SqlExpr e;
    e.kind = kind;
    e.offset = at.offset;
    e.length = at.length;
    return e;
  }

  SqlExpr Or() {
    SqlExpr left = And();
    while (IsWord(Peek(), "OR")) {
      SqlExpr node = Node(SqlExpr::Kind::kOr, Take());
      node.children.push_back(std::move(left));
      node.children.push_back(And());
      left = std::move(node);
    }
    return left;
  }

  SqlExpr And() {
    SqlExpr left = Not();
    while (IsWord(Peek(), "AND")) {
      SqlExpr node = Node(SqlExpr::Kind::kAnd, Take());
      node.children.push_back(std::move(left));
      node.children.push_back(Not());
      left = std::move(node);
    }
    return left;
  }

  SqlExpr Not() {
    if (IsWord(Peek(), "NOT")) {
      SqlExpr node = Node(SqlExpr::Kind::kNot, Take());
      node.children.push_back(Not());
      return node;
    }
    return Predicate();
  }

  SqlExpr Predicate() {
    if (IsSymbol(Peek(), "(")) {
      Take();
      SqlExpr inner = Or();
      if (!IsSymbol(Peek(), ")")) Fail(kStatusSyntaxError);
      Take();
      return inner;
    }
    SqlExpr left = Operand();
    const SqlToken& t = Peek();
    if (IsWord(t, "IS")) {
      SqlExpr node = Node(SqlExpr::Kind::kIsNull, Take());
      if (IsWord(Peek(), "NOT")) {
        Take();
        node.negated = true;
      }
      ExpectWord("NULL");
      node.children.push_back(std::move(left));
      return node;
    }
    bool negated = false;
    if (IsWord(t, "NOT")) {
      Take();
      negated = true;
      if (!IsWord(Peek(), "LIKE")) Fail(kStatusSyntaxError);
    }
    if (IsWord(Peek(), "LIKE")) {
      SqlExpr node = Node(SqlExpr::Kind::kLike, Take());
      node.negated = negated;
      node.children.push_back(std::move(left));
      node.children.push_back(Operand());
      return node;
    }
    SqlCompareOp op;
    if (!CompareOp(Peek(), op)) Fail(kStatusSyntaxError);
    SqlExpr node = Node(SqlExpr::Kind::kCompare, Take());
    node.op = op;
    node.children.push_back(std::move(left));
    node.children.push_back(Operand());
    return node;
  }

  static bool CompareOp(const SqlToken& t, SqlCompareOp& op) {
    if (t.kind != Kind::kSymbol) return false;
    if (t.value == "=") {
      op = SqlCompareOp::kEq;
    } else if (t.value == "<>" || t.value == "!=") {
      op = SqlCompareOp::kNe;
    } else if (t.value == "<") {
      op = SqlCompareOp::kLt;
    } else if (t.value == "<=") {
      op = SqlCompareOp::kLe;
    } else if (t.value == ">") {
      op = SqlCompareOp::kGt;
    } else if (t.value == ">=") {
      op = SqlCompareOp::kGe;
    } else {
      return false;
    }
    return true;
  }

  SqlExpr Operand() {
    const SqlToken& t = Peek();
    if (IsFieldName(t)) {
      SqlExpr e = Node(SqlExpr::Kind::kField, Take());
      e.text = t.value;
      return e;
    }
    if (IsWord(t, "TRUE") || IsWord(t, "FALSE")) {
      SqlExpr e = Node(SqlExpr::Kind::kBool, Take());
      e.flag = IsWord(t, "TRUE");
      return e;
    }
    if (IsWord(t, "NULL")) return Node(SqlExpr::Kind::kNull, Take());
    if (t.kind == Kind::kText) {
      SqlExpr e = Node(SqlExpr::Kind::kText, Take());
      e.text = t.value;
      return e;
    }
    if (t.kind == Kind::kParam) {
      ++param_count_;
      return Node(SqlExpr::Kind::kParam, Take());
    }
    bool negative = false;
    const SqlToken& sign = t;
    if (IsSymbol(t, "-") || IsSymbol(t, "+")) {
      negative = t.value == "-";
      Take();
      if (Peek().kind != Kind::kNumber) Fail(kStatusSyntaxError);
    }
    if (Peek().kind == Kind::kNumber) {
      const SqlToken& number = Take();
      SqlExpr e = Node(SqlExpr::Kind::kNumber, sign);
      e.length = number.offset + number.length - sign.offset;
      e.text = number.value;
      std::string_view digits = number.value;
      // from_chars does not take a leading "." of ".5".
      std::string padded = digits.front() == '.' ? "0" + number.value : number.value;
      std::from_chars(padded.data(), padded.data() + padded.size(), e.number);
      if (negative) e.number = -e.number;
      return e;
    }
    Fail(kStatusSyntaxError);
  }

  std::string_view text_;
  std::vector<SqlToken> tokens_;
  size_t pos_ = 0;
  int param_count_ = 0;
};

}  // namespace

EngineStatus ParseSelect(std::string_view text, SqlSelect& out) {
  try {
    out = Parser(text).Select();
  } catch (const SqlFailure& failure) {
    return failure.status;
  }
  return {};
}

EngineStatus ParseCondition(std::string_view text, SqlExpr& out) {
  try {
    out = Parser(text).Condition();
  } catch (const SqlFailure& failure) {
    return failure.status;
  }
  return {};
}

}  // namespace shelfra
