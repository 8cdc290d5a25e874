// Sort keys of the result list's orders.
#include "catalogue/answer_order.h"

#include <cstdint>
#include <limits>

#include "engine/collation.h"
#include "engine/dbf_file.h"

namespace shelfra {

namespace {

using F = BookField;

constexpr char kHas = '\x00';      // a book with the order's value: its key follows
constexpr char kLacking = '\xFF';  // one without: after every book with one

// The leading digits of a publication year ("2003", "2003.5", "c2003" has none); -1 without.
long long YearOf(std::string_view text) {
  long long year = -1;
  for (char c : text) {
    if (c < '0' || c > '9' || year > 99999) break;
    year = (year < 0 ? 0 : year * 10) + (c - '0');
  }
  return year;
}

// `value` as eight bytes whose unsigned order is the number's (falling when `falling`).
void AppendNumber(long long value, bool falling, std::string& key) {
  uint64_t u = static_cast<uint64_t>(value) ^ (uint64_t{1} << 63);
  if (falling) u = ~u;
  for (int shift = 56; shift >= 0; shift -= 8) key.push_back(static_cast<char>((u >> shift) & 0xFF));
}

struct Named {
  AnswerOrder order;
  std::string_view name;
};
constexpr Named kNames[] = {{AnswerOrder::kTitle, "title/1"},
                            {AnswerOrder::kAuthor, "author/1"},
                            {AnswerOrder::kYear, "year/1"},
                            {AnswerOrder::kYearDescending, "-year/1"},
                            {AnswerOrder::kNewest, "new/1"}};

}  // namespace

std::string AnswerOrderKey(AnswerOrder order, const std::function<std::string(BookField)>& text,
                           std::optional<long long> registered_days) {
  std::string key(1, kHas);
  switch (order) {
    case AnswerOrder::kReading: return key;
    case AnswerOrder::kTitle: {
      const std::string title = text(F::kTitle);
      if (title.empty()) return std::string(1, kLacking);
      AppendSortKey(title, key);
      key.push_back('\0');
      return key;
    }
    case AnswerOrder::kAuthor: {
      const std::string reading = text(F::kAuthorReading);
      const std::string author = text(F::kAuthor);
      if (reading.empty() && author.empty()) return std::string(1, kLacking);
      if (!reading.empty()) {
        AppendSortKey(reading, key);
        key.push_back('\0');  // a shorter reading sorts before a longer one beginning alike
      }
      AppendSortKey(author, key);
      key.push_back('\0');
      return key;
    }
    case AnswerOrder::kYear:
    case AnswerOrder::kYearDescending: {
      const long long year = YearOf(text(F::kYear));
      if (year < 0) return std::string(1, kLacking);
      AppendNumber(year, order == AnswerOrder::kYearDescending, key);
      return key;
    }
    case AnswerOrder::kNewest:
      if (!registered_days) return std::string(1, kLacking);
      AppendNumber(*registered_days, true, key);
      return key;
  }
  return key;
}

std::string_view IndexedOrderName(AnswerOrder order) {
  for (const Named& n : kNames) {
    if (n.order == order) return n.name;
  }
  return {};
}

std::vector<SearchIndexFields::Order> IndexedAnswerOrders() {
  std::vector<SearchIndexFields::Order> orders;
  for (const Named& n : kNames) {
    const AnswerOrder order = n.order;
    orders.push_back({std::string(n.name), [order](const DbfFile& file, std::string_view record) -> std::optional<std::string> {
      bool readable = true;
      auto text = [&](BookField field) {
        const int at = file.FieldIndex(BookFieldName(field));
        if (at < 0 || file.Fields()[static_cast<size_t>(at)].dbf_type != 'C') {
          readable = false;
          return std::string();
        }
        return std::string(file.Decode(record, at).text);
      };
      std::optional<long long> days;
      if (order == AnswerOrder::kNewest) {
        const int at = file.FieldIndex(BookFieldName(F::kRegisteredOn));
        if (at < 0 || file.Fields()[static_cast<size_t>(at)].dbf_type != 'D') return std::nullopt;
        const TFieldValue value = file.Decode(record, at);
        if (!value.is_null) days = value.date;
      }
      std::string key = AnswerOrderKey(order, text, days);
      if (!readable) return std::nullopt;
      return key;
    }});
  }
  return orders;
}

}  // namespace shelfra
