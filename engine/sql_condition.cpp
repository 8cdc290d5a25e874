// Binding a condition to a table file and evaluating it record by record.
#include "engine/sql_condition.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/dbf_file.h"
#include "engine/sql_lexer.h"

namespace shelfra {

namespace {

bool ParseNumber(std::string_view text, double& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

ValueCategory CategoryOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftFloat:
      return ValueCategory::kNumber;
    case TFieldType::ftDate:
    case TFieldType::ftDateTime:
      return ValueCategory::kDate;
    case TFieldType::ftBoolean:
      return ValueCategory::kBool;
    default:
      return ValueCategory::kText;
  }
}

Scalar FieldScalar(const DbfFile& file, std::string_view record, int field, ValueCategory category) {
  TFieldValue v = file.Decode(record, field);
  Scalar s;
  s.blank = v.is_null;
  switch (category) {
    case ValueCategory::kText:
      if (!v.is_null) s.text = v.text;
      s.blank = s.text.empty();
      break;
    case ValueCategory::kNumber:
      s.number = v.number;
      break;
    case ValueCategory::kBool:
      s.flag = v.flag;
      break;
    case ValueCategory::kDate:
      s.date = v.date;
      s.time = v.time;
      break;
    case ValueCategory::kNull:
      s.blank = true;
      break;
  }
  return s;
}

int CompareScalars(ValueCategory category, const Scalar& a, const Scalar& b) {
  if (a.blank || b.blank) return a.blank == b.blank ? 0 : (a.blank ? -1 : 1);
  switch (category) {
    case ValueCategory::kText:
      return CompareText(a.text, b.text);
    case ValueCategory::kNumber:
      // A stored double may be not-a-number: it comes after every other number and equals
      // only itself, so that the order stays total.
      if (std::isnan(a.number) || std::isnan(b.number)) {
        return std::isnan(a.number) == std::isnan(b.number) ? 0 : (std::isnan(a.number) ? 1 : -1);
      }
      return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    case ValueCategory::kBool:
      return static_cast<int>(a.flag) - static_cast<int>(b.flag);
    case ValueCategory::kDate:
      // A date is a date-time at midnight.
      if (a.date != b.date) return a.date < b.date ? -1 : 1;
      return a.time < b.time ? -1 : (a.time > b.time ? 1 : 0);
    case ValueCategory::kNull:
      break;
  }
  return 0;
}

EngineStatus SqlCondition::Bind(const SqlExpr& expr, const DbfFile& file, std::string_view text,
                                std::unique_ptr<SqlCondition>& out) {
  std::unique_ptr<SqlCondition> condition(new SqlCondition(file, text));
  try {
    condition->root_ = condition->BindNode(expr);
  } catch (const SqlFailure& failure) {
    return failure.status;
  }
  condition->text_ = {};
  out = std::move(condition);
  return {};
}

void SqlCondition::Fail(uint16_t code, const SqlExpr& at) const {
  SqlToken token;
  token.kind = SqlToken::Kind::kName;
  token.offset = at.offset;
  token.length = at.length;
  throw SqlFailure{SqlError(code, text_, token)};
}

int SqlCondition::BindOperand(const SqlExpr& expr) {
  Operand op;
  switch (expr.kind) {
    case SqlExpr::Kind::kField:
      op.field = file_.FieldIndex(expr.text);
      if (op.field < 0) Fail(kStatusUnknownField, expr);
      op.category = CategoryOf(file_.Fields()[static_cast<size_t>(op.field)].type);
      break;
    case SqlExpr::Kind::kText:
      op.category = ValueCategory::kText;
      op.text = expr.text;
      op.constant.blank = expr.text.empty();
      break;
    case SqlExpr::Kind::kNumber:
      op.category = ValueCategory::kNumber;
      op.constant.blank = false;
      op.constant.number = expr.number;
      break;
    case SqlExpr::Kind::kBool:
      op.category = ValueCategory::kBool;
      op.constant.blank = false;
      op.constant.flag = expr.flag;
      break;
    case SqlExpr::Kind::kNull:
      op.category = ValueCategory::kNull;
      break;
    case SqlExpr::Kind::kParam:
      Fail(kStatusParamUnbound, expr);
    default:
      Fail(kStatusSyntaxError, expr);
  }
  operands_.push_back(std::move(op));
  return static_cast<int>(operands_.size()) - 1;
}

int SqlCondition::BindNode(const SqlExpr& expr) {
  Node node{expr.kind};
  node.negated = expr.negated;
  node.op = expr.op;
  switch (expr.kind) {
    case SqlExpr::Kind::kAnd:
    case SqlExpr::Kind::kOr:
      node.left = BindNode(expr.children[0]);
      node.right = BindNode(expr.children[1]);
      break;
    case SqlExpr::Kind::kNot:
      node.left = BindNode(expr.children[0]);
      break;
    case SqlExpr::Kind::kIsNull:
      node.left = BindOperand(expr.children[0]);
      break;
    case SqlExpr::Kind::kLike: {
      node.left = BindOperand(expr.children[0]);
      const Operand& subject = operands_[static_cast<size_t>(node.left)];
      if (subject.category != ValueCategory::kText && subject.category != ValueCategory::kNull) {
        Fail(kStatusTypeMismatch, expr.children[0]);
      }
      if (expr.children[1].kind != SqlExpr::Kind::kText) {
        if (expr.children[1].kind == SqlExpr::Kind::kParam) Fail(kStatusParamUnbound, expr.children[1]);
        Fail(kStatusTypeMismatch, expr.children[1]);
      }
      patterns_.emplace_back(expr.children[1].text);
      node.pattern = static_cast<int>(patterns_.size()) - 1;
      break;
    }
    case SqlExpr::Kind::kCompare: {
      node.left = BindOperand(expr.children[0]);
      node.right = BindOperand(expr.children[1]);
      Operand& a = operands_[static_cast<size_t>(node.left)];
      Operand& b = operands_[static_cast<size_t>(node.right)];
      // A text constant compared with a number field is read as a number.
      for (auto [field_side, const_side] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        if (field_side->field >= 0 && const_side->field < 0 && field_side->category == ValueCategory::kNumber &&
            const_side->category == ValueCategory::kText) {
          const SqlExpr& at = const_side == &a ? expr.children[0] : expr.children[1];
          if (!ParseNumber(const_side->text, const_side->constant.number)) Fail(kStatusTypeMismatch, at);
          const_side->category = ValueCategory::kNumber;
          const_side->constant.blank = false;
        }
      }
      if (a.category != b.category && a.category != ValueCategory::kNull && b.category != ValueCategory::kNull) {
        Fail(kStatusTypeMismatch, expr.children[1]);
      }
      node.category = a.category != ValueCategory::kNull ? a.category : b.category;
      break;
    }
    default:
      // A lone operand is no condition.
      Fail(kStatusSyntaxError, expr);
  }
  nodes_.push_back(node);
  return static_cast<int>(nodes_.size()) - 1;
}

template <class Item, class Leaf>
std::vector<Item> SqlCondition::Required(int index, const Leaf& leaf) const {
  const Node& node = nodes_[static_cast<size_t>(index)];
  switch (node.kind) {
    case SqlExpr::Kind::kAnd: {
      // Both sides hold: everything either side requires.
      std::vector<Item> all = Required<Item>(node.left, leaf);
      for (Item& item : Required<Item>(node.right, leaf)) all.push_back(std::move(item));
      return all;
    }
    case SqlExpr::Kind::kOr: {
      // One side may hold alone: only what both sides require.
      std::vector<Item> left = Required<Item>(node.left, leaf);
      std::vector<Item> right = Required<Item>(node.right, leaf);
      std::vector<Item> both;
      for (Item& item : left) {
        if (std::find(right.begin(), right.end(), item) != right.end()) both.push_back(std::move(item));
      }
      return both;
    }
    case SqlExpr::Kind::kLike:
      if (node.negated || operands_[static_cast<size_t>(node.left)].field < 0) return {};
      return leaf(patterns_[static_cast<size_t>(node.pattern)]);
    default:
      return {};
  }
}

std::string SqlCondition::RequiredBytes() const {
  std::string best;
  auto needle = [](const LikePattern& pattern) {
    return pattern.Needle().empty() ? std::vector<std::string>{} : std::vector<std::string>{pattern.Needle()};
  };
  for (std::string& run : Required<std::string>(root_, needle)) {
    if (run.size() > best.size()) best = std::move(run);
  }
  return best;
}

std::vector<uint32_t> SqlCondition::RequiredPairs() const {
  auto pairs = [](const LikePattern& pattern) {
    std::vector<uint32_t> out;
    for (const std::vector<uint16_t>& run : pattern.LiteralRuns()) {
      for (size_t i = 1; i < run.size(); ++i) out.push_back(static_cast<uint32_t>(run[i - 1]) << 16 | run[i]);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  };
  std::vector<uint32_t> out = Required<uint32_t>(root_, pairs);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool SqlCondition::RequiredLeadingText(int field, std::vector<uint16_t>& codes, bool& alone) const {
  bool found = false;
  std::vector<int> pending = {root_};  // nodes every passing record passes
  while (!pending.empty() && !found) {
    const Node& node = nodes_[static_cast<size_t>(pending.back())];
    pending.pop_back();
    if (node.kind == SqlExpr::Kind::kAnd) {
      pending.push_back(node.right);
      pending.push_back(node.left);
    } else if (node.kind == SqlExpr::Kind::kLike && !node.negated &&
               operands_[static_cast<size_t>(node.left)].field == field) {
      found = patterns_[static_cast<size_t>(node.pattern)].IsLeadingText(codes) && !codes.empty();
    }
  }
  if (!found) return false;
  int readers = 0;
  for (const Node& node : nodes_) {
    const bool reads_operands = node.kind == SqlExpr::Kind::kLike || node.kind == SqlExpr::Kind::kIsNull ||
                                node.kind == SqlExpr::Kind::kCompare;
    if (!reads_operands) continue;
    for (int operand : {node.left, node.kind == SqlExpr::Kind::kCompare ? node.right : -1}) {
      if (operand >= 0 && operands_[static_cast<size_t>(operand)].field == field) ++readers;
    }
  }
  alone = readers == 1;
  return true;
}

bool SqlCondition::LikeTestsOnly(std::vector<int>& fields) const {
  for (const Node& node : nodes_) {
    switch (node.kind) {
      case SqlExpr::Kind::kAnd:
      case SqlExpr::Kind::kOr:
      case SqlExpr::Kind::kNot:
        break;
      case SqlExpr::Kind::kLike: {
        const int field = operands_[static_cast<size_t>(node.left)].field;
        if (field < 0) return false;
        fields.push_back(field);
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool SqlCondition::Holds(std::string_view record) const {
  return Eval(root_, [&](const Operand& operand) { return Value(operand, record); });
}

bool SqlCondition::HoldsOnTexts(const std::function<std::string_view(int field)>& text_of) const {
  return Eval(root_, [&](const Operand& operand) {
    Scalar s;
    s.text = text_of(operand.field);
    s.blank = s.text.empty();
    return s;
  });
}

Scalar SqlCondition::Value(const Operand& operand, std::string_view record) const {
  if (operand.field >= 0) return FieldScalar(file_, record, operand.field, operand.category);
  Scalar s = operand.constant;
  if (operand.category == ValueCategory::kText) s.text = operand.text;
  return s;
}

template <class ValueOf>
bool SqlCondition::Eval(int index, const ValueOf& value_of) const {
  const Node& node = nodes_[static_cast<size_t>(index)];
  switch (node.kind) {
    case SqlExpr::Kind::kAnd:
      return Eval(node.left, value_of) && Eval(node.right, value_of);
    case SqlExpr::Kind::kOr:
      return Eval(node.left, value_of) || Eval(node.right, value_of);
    case SqlExpr::Kind::kNot:
      return !Eval(node.left, value_of);
    case SqlExpr::Kind::kIsNull:
      return value_of(operands_[static_cast<size_t>(node.left)]).blank != node.negated;
    case SqlExpr::Kind::kLike: {
      const LikePattern& pattern = patterns_[static_cast<size_t>(node.pattern)];
      // "%" matches every value, the blank one too: no need to read it.
      if (pattern.MatchesEverything()) return !node.negated;
      Scalar subject = value_of(operands_[static_cast<size_t>(node.left)]);
      return pattern.Matches(subject.text) != node.negated;
    }
    case SqlExpr::Kind::kCompare: {
      Scalar a = value_of(operands_[static_cast<size_t>(node.left)]);
      Scalar b = value_of(operands_[static_cast<size_t>(node.right)]);
      int c = CompareScalars(node.category, a, b);
      switch (node.op) {
        case SqlCompareOp::kEq:
          return c == 0;
        case SqlCompareOp::kNe:
          return c != 0;
        case SqlCompareOp::kLt:
          return !a.blank && !b.blank && c < 0;
        case SqlCompareOp::kLe:
          return !a.blank && !b.blank && c <= 0;
        case SqlCompareOp::kGt:
          return !a.blank && !b.blank && c > 0;
        case SqlCompareOp::kGe:
          return !a.blank && !b.blank && c >= 0;
      }
      return false;
    }
    default:
      return false;
  }
}

}  // namespace shelfra
