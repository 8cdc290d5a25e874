// SqlStatement: a statement parsed once (prepared) and run as often as needed over the
// table file it names; the answer is a list of record numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/sql_parser.h"

namespace shelfra {

class DbfFile;
class SearchIndex;

class SqlStatement {
 public:
  // Parses `text`. Raises EDBEngineError naming the token where the text goes wrong.
  explicit SqlStatement(std::string text);

  // The table as the statement names it ("<name>" or "<name>.<ext>").
  const std::string& TableName() const { return select_.table; }
  // "?" placeholders in the text.
  int ParamCount() const { return select_.param_count; }

  // Runs the statement over `file`: the numbers of the records that pass the condition,
  // deleted records left out, in ORDER BY order (a stable sort, so equal keys keep table order;
  // blank values first; texts in the order of CompareText), otherwise in table order. Raises
  // EDBEngineError for an unknown field or mismatched types, naming the token. Nothing is
  // allocated per record. With `index` (the search index of `file`, not owned) the index
  // answers when it holds what the statement needs, with the same records in the same order;
  // otherwise the records are scanned. Raises EDBEngineError (changed file) when the file
  // changed while it was scanned.
  std::vector<uint32_t> Execute(const DbfFile& file, const SearchIndex* index = nullptr) const;

 private:
  std::string text_;
  SqlSelect select_;
};

}  // namespace shelfra
