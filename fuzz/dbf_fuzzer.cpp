// Fuzz target: the .DBF reader over arbitrary file bytes - the header, every field of every
// record, and a statement and a filter run over whatever table the bytes make.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/dbf_file.h"
#include "engine/sql_condition.h"
#include "engine/sql_parser.h"
#include "engine/sql_statement.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shelfra::fuzz::MemFile bytes(std::string_view(reinterpret_cast<const char*>(data), size));
  std::unique_ptr<shelfra::DbfFile> file;
  shelfra::EngineStatus opened = shelfra::DbfFile::Open(bytes.Path(), file);
  if (!opened.Ok()) {
    if (opened.subject != bytes.Path() || file != nullptr) std::abort();  // the status names the file
    return 0;
  }
  // The records the reader counts lie wholly inside the file.
  const size_t header_length = size >= 10 ? (data[8] | data[9] << 8) : 0;
  if (header_length + static_cast<size_t>(file->RecordCount()) * file->RecordLength() > size) std::abort();
  // Fields lie in table order without overlapping; Visual FoxPro's null flags, which are no
  // field, may take a place between them.
  size_t end = 1;
  for (const shelfra::DbfField& f : file->Fields()) {
    if (f.length <= 0 || static_cast<size_t>(f.offset) < end) std::abort();
    end = static_cast<size_t>(f.offset) + static_cast<size_t>(f.length);
  }
  if (end > file->RecordLength()) std::abort();

  for (uint32_t r = 0; r < file->RecordCount(); ++r) {
    std::string_view record = file->Record(r);
    for (size_t f = 0; f < file->Fields().size(); ++f) {
      shelfra::TFieldValue v = file->Decode(record, static_cast<int>(f));
      // A text points into the record.
      if (!v.text.empty() && (v.text.data() < record.data() || v.text.data() + v.text.size() > record.data() + record.size())) {
        std::abort();
      }
    }
  }
  for (const shelfra::DbfField& f : file->Fields()) {
    if (file->FieldIndex(f.name) < 0) std::abort();
  }

  // Sorting and filtering over the first field, whatever its type.
  const std::string first = "[" + file->Fields()[0].name + "]";
  std::unique_ptr<shelfra::SqlStatement> statement;
  if (shelfra::SqlStatement::Prepare("SELECT * FROM T ORDER BY " + first + " DESC", statement).Ok()) {
    std::vector<uint32_t> rows;
    (void)statement->Execute(*file, nullptr, rows);
  }
  const std::string text = first + " IS NOT NULL";
  shelfra::SqlExpr expr;
  std::unique_ptr<shelfra::SqlCondition> condition;
  if (shelfra::ParseCondition(text, expr).Ok() && shelfra::SqlCondition::Bind(expr, *file, text, condition).Ok()) {
    for (uint32_t r = 0; r < file->RecordCount(); ++r) (void)condition->Holds(file->Record(r));
  }
  if (!file->CheckUnchanged().Ok()) std::abort();
  return 0;
}
