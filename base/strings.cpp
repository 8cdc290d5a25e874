// TStrings.
#include "base/strings.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "base_res.h"

namespace shelfra {

TStrings::TStrings(std::initializer_list<std::string_view> lines) {
  for (std::string_view l : lines) lines_.emplace_back(l);
}

const std::string& TStrings::Strings(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format(res::base::kListIndexError, {index}));
  return lines_[static_cast<size_t>(index)];
}

void TStrings::Insert(int index, std::string line) {
  if (index < 0 || index > Count()) throw EListError(Format(res::base::kListIndexError, {index}));
  lines_.insert(lines_.begin() + index, std::move(line));
}

void TStrings::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError(Format(res::base::kListIndexError, {index}));
  lines_.erase(lines_.begin() + index);
}

int TStrings::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view line = lines_[i];
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && SameTextAscii(line.substr(0, eq), name)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStrings::Values(std::string_view name) const {
  int i = IndexOfName(name);
  if (i < 0) return std::string();
  const std::string& line = lines_[static_cast<size_t>(i)];
  return line.substr(line.find('=') + 1);
}

std::string TStrings::Text() const {
  std::string out;
  for (const std::string& l : lines_) {
    out.append(l);
    out.append("\r\n");
  }
  return out;
}

}  // namespace shelfra
