// TStrings: an ordered list of text lines, most of them "name=value", duplicates kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace shelfra {

class TStrings {
 public:
  TStrings() = default;
  TStrings(std::initializer_list<std::string_view> lines);

  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // The line at `index`; raises EListError "list index out of range (<index>)" when there is none.
  const std::string& Strings(int index) const;
  const std::string& operator[](int index) const { return lines_[static_cast<size_t>(index)]; }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }
  void Assign(const TStrings& other) { lines_ = other.lines_; }

  // Index of the first line whose text before its first "=" equals `name` ignoring ASCII case;
  // -1 when there is none. A line without "=" never matches.
  int IndexOfName(std::string_view name) const;
  // The text after the first "=" of that line; empty when there is none.
  std::string Values(std::string_view name) const;
  // Every line followed by CR LF; an empty list gives an empty text.
  std::string Text() const;

  std::vector<std::string>::const_iterator begin() const { return lines_.begin(); }
  std::vector<std::string>::const_iterator end() const { return lines_.end(); }
  bool operator==(const TStrings& other) const { return lines_ == other.lines_; }

 private:
  std::vector<std::string> lines_;
};

}  // namespace shelfra
