// Fuzz target: statements of the engine - parameter markers, parsing and execution over the
// fixture table, both directly and through a query dataset reading every field of the answer.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/component.h"
#include "base/exceptions.h"
#include "engine/dbf_file.h"
#include "data/field.h"
#include "data/query.h"
#include "engine/sql_condition.h"
#include "engine/sql_statement.h"
#include "fuzz/fuzz_support.h"

namespace {

using shelfra::fuzz::ByteReader;

// The fixture as a file of an alias directory, so that the dataset layer finds it as "T".
struct Catalogue {
  std::string dir;
  std::unique_ptr<shelfra::DbfFile> file;
  Catalogue() {
    char templ[] = "/tmp/shelfra-fuzz-XXXXXX";
    if (::mkdtemp(templ) == nullptr) std::abort();
    dir = templ;
    WriteFile(dir + "/T.DBF", shelfra::fuzz::FixtureTableBytes());
    WriteFile(dir + "/shelfra.conf", "[Aliases]\nVadoz=" + dir + "\n");
    ::setenv("SHELFRA_CONFIG", (dir + "/shelfra.conf").c_str(), 1);
    if (!shelfra::DbfFile::Open(dir + "/T.DBF", file).Ok()) std::abort();
  }
  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
  }
};

Catalogue& TheCatalogue() {
  static Catalogue* catalogue = new Catalogue();
  return *catalogue;
}

// Runs the statement directly and checks its answer: record numbers in range, no deleted
// record, no record twice, ORDER BY order kept.
void RunDirect(const std::string& text) {
  const shelfra::DbfFile& file = *TheCatalogue().file;
  std::unique_ptr<shelfra::SqlStatement> statement;
  std::vector<uint32_t> rows;
  if (!shelfra::SqlStatement::Prepare(text, statement).Ok() || !statement->Execute(file, nullptr, rows).Ok()) return;
  std::vector<bool> seen(file.RecordCount());
  for (uint32_t r : rows) {
    if (r >= file.RecordCount() || seen[r] || shelfra::DbfFile::IsDeleted(file.Record(r))) std::abort();
    seen[r] = true;
    for (size_t f = 0; f < file.Fields().size(); ++f) (void)file.Decode(file.Record(r), static_cast<int>(f));
  }
}

// Through the dataset layer: markers, table name, count, iteration and every field's texts.
void RunQuery(const std::string& text) {
  TheCatalogue();
  shelfra::TComponent root(nullptr);
  shelfra::TQuery& query = root.Create<shelfra::TQuery>("QueryZosho");
  query.SetDatabaseName("Vadoz");
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    query.AddSQL(text.substr(start, end - start));
    start = end + 1;
  }
  try {
    query.Open();
    const int count = query.CountRecords();
    int seen = 0;
    for (; !query.AtEnd(); query.MoveNext()) {
      ++seen;
      for (int f = 0; f < query.FieldCount(); ++f) {
        shelfra::TField& field = query.FieldAt(f);
        (void)field.DisplayText();
        (void)field.StringValue();
      }
    }
    if (seen != count) std::abort();  // the count is the number of rows iteration yields
  } catch (const shelfra::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t mode = in.Byte();
  std::string rest(in.Rest());
  std::string text;
  switch (mode % 4) {
    case 0: text = rest; break;
    case 1: text = "SELECT * FROM T WHERE " + rest; break;
    case 2: {
      const auto& names = shelfra::fuzz::FixtureFieldNames();
      text = "SELECT * FROM T WHERE " + rest + " ORDER BY " + names[(mode / 4) % names.size()];
      break;
    }
    default: text = "SELECT * FROM T ORDER BY " + rest; break;
  }
  if ((mode & 0x80) != 0) {
    RunQuery(text);
  } else {
    std::vector<std::string> names;
    RunDirect(shelfra::ReplaceParamMarkers(text, names));
  }
  return 0;
}
