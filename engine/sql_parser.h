// The parse trees of the engine's statements and filters, and the parser that builds them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/status.h"

namespace shelfra {

enum class SqlCompareOp { kEq, kNe, kLt, kLe, kGt, kGe };

// One node of a condition. Operands of kCompare and kLike are children[0] and children[1].
struct SqlExpr {
  enum class Kind { kAnd, kOr, kNot, kCompare, kLike, kIsNull, kField, kText, kNumber, kBool, kNull, kParam };
  Kind kind = Kind::kNull;
  SqlCompareOp op = SqlCompareOp::kEq;  // kCompare
  bool negated = false;                 // kLike: NOT LIKE; kIsNull: IS NOT NULL
  std::string text;                     // kField: the name; kText: the constant
  double number = 0;                    // kNumber
  bool flag = false;                    // kBool
  size_t offset = 0;                    // of the node's first token in the text
  size_t length = 0;                    // of that token
  std::vector<SqlExpr> children;
};

struct SqlOrderItem {
  std::string field;
  bool descending = false;
  size_t offset = 0;
  size_t length = 0;
};

// SELECT * FROM table [WHERE condition] [ORDER BY field [ASC|DESC], ...] [;]
struct SqlSelect {
  std::string table;  // as written, without quotes or brackets
  size_t table_offset = 0;
  size_t table_length = 0;
  std::optional<SqlExpr> where;
  std::vector<SqlOrderItem> order_by;
  int param_count = 0;  // "?" placeholders
};

// Parses a statement into `out`. A kStatement status (kStatusSyntaxError and the like) names
// the token where the text goes wrong and its line and column. Keywords compare ignoring
// ASCII case.
EngineStatus ParseSelect(std::string_view text, SqlSelect& out);

// Parses a condition on its own (a filter): field names, constants, = <> < <= > >=, LIKE,
// IS [NOT] NULL, AND, OR, NOT and parentheses. Fails as ParseSelect does.
EngineStatus ParseCondition(std::string_view text, SqlExpr& out);

}  // namespace shelfra
