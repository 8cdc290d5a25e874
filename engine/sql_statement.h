// SqlStatement: a statement parsed once (prepared) and run as often as needed over the
// table file it names; the answer is a list of record numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql_parser.h"
#include "engine/status.h"

namespace shelfra {

class DbfFile;
class SearchIndex;

class SqlStatement {
 public:
  // Parses `text` into `out`. Fails as ParseSelect does, naming the token where the text goes
  // wrong.
  static EngineStatus Prepare(std::string text, std::unique_ptr<SqlStatement>& out);

  // The table as the statement names it ("<name>" or "<name>.<ext>").
  const std::string& TableName() const { return select_.table; }
  // "?" placeholders in the text.
  int ParamCount() const { return select_.param_count; }

  // Runs the statement over `file`: in `rows` the numbers of the records that pass the
  // condition, deleted records left out, in ORDER BY order (a stable sort, so equal keys keep
  // table order; blank values first; texts in the order of CompareText), otherwise in table
  // order. Fails with a kStatement status naming the token for an unknown field or mismatched
  // types. Nothing is allocated per record. With `index` (the search index of `file`, not
  // owned) the index answers when it holds what the statement needs, with the same records
  // in the same order; otherwise the records are scanned. kStatusTableChanged when the file
  // changed while it was scanned. `from_index`, when given, tells whether the index answered;
  // `ordinals`, when given, holds the index's live record ordinals of the rows when it did
  // (for SearchIndex::ShownRecord) and is emptied when it did not.
  EngineStatus Execute(const DbfFile& file, const SearchIndex* index, std::vector<uint32_t>& rows,
                       bool* from_index = nullptr, std::vector<uint32_t>* ordinals = nullptr) const;

 private:
  SqlStatement() = default;

  std::string text_;
  SqlSelect select_;
};

}  // namespace shelfra
