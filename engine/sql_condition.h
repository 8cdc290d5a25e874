// SqlCondition: a parsed condition bound to the fields of one table file, evaluated on the
// raw bytes of a record; also the typed values the engine compares and sorts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/collation.h"
#include "engine/sql_parser.h"
#include "engine/value.h"

namespace shelfra {

class DbfFile;

// The comparable kind of a value. Every field type maps to one.
enum class ValueCategory { kNull, kNumber, kText, kBool, kDate };
ValueCategory CategoryOf(TFieldType type);

// A field value or constant as the engine compares it. A blank text is the empty text and
// counts as blank; `text` points into the record or the condition.
struct Scalar {
  bool blank = true;
  double number = 0;
  std::string_view text;
  bool flag = false;
  int32_t date = 0;
  int32_t time = 0;  // milliseconds since midnight; 0 for a date
};

// The value of field `field` of `record`, read as `category`.
Scalar FieldScalar(const DbfFile& file, std::string_view record, int field, ValueCategory category);
// Total order used by comparisons and sorting: a blank value comes before every other
// value and equals only a blank value; texts compare by CompareText (folded, so "=" takes
// hiragana for katakana of either width and full-width ASCII for ASCII); a not-a-number comes
// after every other number; dates and date-times by day, then time (a date is at midnight).
int CompareScalars(ValueCategory category, const Scalar& a, const Scalar& b);

// One ORDER BY key bound to a field of the table.
struct SqlSortField {
  int field;
  ValueCategory category;
  bool descending;
};

// A condition bound to the fields of one table: the one condition tree that both the scan of
// the records and the search index evaluate.
class SqlCondition {
 public:
  // Binds `expr` (parsed from `text`) to the fields of `file` into `out`. Fails with a
  // kStatement status naming the token of `text` for an unknown field, operands of types that
  // do not compare, a LIKE whose pattern is not a text constant, or a "?" placeholder (no
  // parameter values here). Requires: `file` outlives the condition.
  static EngineStatus Bind(const SqlExpr& expr, const DbfFile& file, std::string_view text,
                           std::unique_ptr<SqlCondition>& out);

  // True when the record passes. Allocates nothing.
  bool Holds(std::string_view record) const;

  // Bytes that every record passing the condition holds verbatim somewhere in its fields (the
  // longest such run found by the LIKE patterns the condition requires); empty when there is
  // none. A scan can look for them over many records at once and test only where they occur.
  std::string RequiredBytes() const;

  // True when the condition is built of AND, OR, NOT and LIKE tests of fields alone, the kind
  // a search index holding folded field texts answers; the fields the LIKE tests read are
  // added to `fields`.
  bool LikeTestsOnly(std::vector<int>& fields) const;
  // Holds, with the text of each field that a LIKE test reads given by `text_of(field)`
  // instead of a record (a folded text matches a pattern exactly when the text does).
  // Requires: LikeTestsOnly().
  bool HoldsOnTexts(const std::function<std::string_view(int field)>& text_of) const;
  // Pairs of neighbouring folded character codes (first << 16 | second) that every text
  // passing the condition holds in one of the LIKE-tested fields, sorted, without repeats.
  std::vector<uint32_t> RequiredPairs() const;
  // A text that field `field` of every passing record begins with: that of a test
  // `field LIKE "text%"` joined to the rest by AND alone (under no OR or NOT), as folded codes;
  // false when there is none. `alone` tells whether that test is the only one reading the field.
  bool RequiredLeadingText(int field, std::vector<uint16_t>& codes, bool& alone) const;

 private:
  struct Operand {
    int field = -1;  // -1: a constant
    ValueCategory category = ValueCategory::kNull;
    Scalar constant;
    std::string text;  // storage of a text constant (constant.text is rebuilt from it)
  };
  struct Node {
    SqlExpr::Kind kind;
    SqlCompareOp op = SqlCompareOp::kEq;
    bool negated = false;
    int left = -1;   // child node (kAnd, kOr, kNot) or operand index
    int right = -1;  // child node or operand index
    int pattern = -1;  // kLike: index into patterns_
    ValueCategory category = ValueCategory::kNull;  // kCompare: the category both sides share
  };

  SqlCondition(const DbfFile& file, std::string_view text) : file_(file), text_(text) {}
  int BindNode(const SqlExpr& expr);
  int BindOperand(const SqlExpr& expr);
  // `value_of(operand)` gives an operand's value: from a record, or from an index's texts.
  template <class ValueOf>
  bool Eval(int node, const ValueOf& value_of) const;
  // What every passing record holds: the union over AND, the common part over OR, and
  // `leaf(pattern)` for a LIKE test of a field.
  template <class Item, class Leaf>
  std::vector<Item> Required(int node, const Leaf& leaf) const;
  Scalar Value(const Operand& operand, std::string_view record) const;
  [[noreturn]] void Fail(uint16_t code, const SqlExpr& at) const;

  const DbfFile& file_;
  std::string_view text_;  // only while binding
  std::vector<Node> nodes_;
  std::vector<Operand> operands_;
  std::vector<LikePattern> patterns_;
  int root_ = -1;
};

}  // namespace shelfra
