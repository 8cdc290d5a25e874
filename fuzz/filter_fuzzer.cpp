// Fuzz target: filter conditions - parsing, binding to the fixture table's fields and
// evaluation on every record - and LIKE patterns on their own.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/collation.h"
#include "engine/dbf_file.h"
#include "engine/sql_condition.h"
#include "engine/sql_parser.h"
#include "fuzz/fuzz_support.h"

namespace {

const shelfra::DbfFile& Fixture() {
  static shelfra::fuzz::MemFile* bytes = new shelfra::fuzz::MemFile(shelfra::fuzz::FixtureTableBytes());
  static std::unique_ptr<shelfra::DbfFile> file = [] {
    std::unique_ptr<shelfra::DbfFile> opened;
    if (!shelfra::DbfFile::Open(bytes->Path(), opened).Ok()) std::abort();
    return opened;
  }();
  return *file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const shelfra::DbfFile& file = Fixture();
  shelfra::fuzz::ByteReader in(data, size);
  const uint8_t mode = in.Byte();
  const std::string text(in.Rest());
  if ((mode & 1) == 0) {
    shelfra::SqlExpr expr;
    std::unique_ptr<shelfra::SqlCondition> condition;
    if (shelfra::ParseCondition(text, expr).Ok() && shelfra::SqlCondition::Bind(expr, file, text, condition).Ok()) {
      for (uint32_t r = 0; r < file.RecordCount(); ++r) (void)condition->Holds(file.Record(r));
    }
    return 0;
  }
  // A LIKE pattern against every text field of the fixture, and against the pattern itself.
  shelfra::LikePattern pattern(text);
  (void)pattern.Matches(text);
  for (uint32_t r = 0; r < file.RecordCount(); ++r) {
    for (size_t f = 0; f < file.Fields().size(); ++f) {
      // Only texts meet a pattern, as in the engine: the values of text fields.
      if (shelfra::CategoryOf(file.Fields()[f].type) != shelfra::ValueCategory::kText) continue;
      shelfra::TFieldValue v = file.Decode(file.Record(r), static_cast<int>(f));
      (void)pattern.Matches(v.text);
    }
  }
  // A pattern without wildcards matches exactly the texts equal to it ignoring ASCII case;
  // in particular itself.
  if (text.find_first_of("%_") == std::string::npos && !pattern.Matches(text)) std::abort();
  return 0;
}
