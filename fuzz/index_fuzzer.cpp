// Fuzz target: the search index reader over index files whose checksums hold. The input is laid
// over the bytes of an index built at start-up from a small book table (an input shorter than
// them keeps the rest); then what binds the index to the table (its identity, header bytes,
// shape and path), the CRC table and the header's CRC are written as a sound build writes them,
// so the fuzzer's offsets, counts, slots and section bytes reach past the checks. The sections
// end at the header's crc_offset when it lies in the bytes, else where the bytes end. An index
// that opens is searched (a rare word, a common one, a keyword, a class prefix, the whole list),
// its numbers are looked up and the shown rows of its answers decoded.
// SHELFRA_INDEX_FUZZER_FIXTURE=FILE writes the start-up index to FILE (fuzz/make_seeds.py makes
// the seeds from it).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/crc32c.h"
#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"
#include "engine/sql_parser.h"
#include "fuzz/fuzz_support.h"

namespace {

using shelfra::fuzz::FieldLayout;

// The book fields the catalogue's index holds, by their Shift_JIS names, narrower than the
// catalogue's own; those of at most 32 bytes become compact slots.
const char kNumber[] = "\223o\230^\224\324\215\206";                  // registration number
const char kTitle[] = "\217\221\226\274";                              // title
const char kReading[] = "\217\221\226\274\266\305";                    // title reading
const char kSeries[] = "\221p\217\221\226\274";                        // series
const char kSeriesReading[] = "\221p\217\221\226\274\266\305";         // series reading
const char kNote[] = "\222\215\213L";                                  // note
const char kAuthor[] = "\222\230\216\322\226\274";                     // author
const char kAuthorReading[] = "\222\230\216\322\226\274\266\305";      // author reading
const char kSubjects[] = "\214\217\226\274";                           // subjects
const char kContents[] = "\223\340\227e\217\320\211\356";              // contents
const char kClassCode[] = "\225\252\227\336\213L\215\206";             // class code
const char kBookMark[] = "\220}\217\221\213L\215\206";                 // book mark
const char kVolumeMark[] = "\212\252\215\373\213L\215\206";            // volume mark
const char kPublisher[] = "\217o\224\305\216\322";                     // publisher
const char kYear[] = "\217o\224\305\224N";                             // year
const char kPages[] = "\225\305\201i\202\220\201j";                    // pages
const char kSize[] = "\221\345\202\253\202\263";                       // size

const std::vector<FieldLayout>& BookFields() {
  static const std::vector<FieldLayout> fields = {
      {kNumber, 'N', 10, 0},   {kTitle, 'C', 40, 0},          {kReading, 'C', 40, 0},    {kSeries, 'C', 20, 0},
      {kSeriesReading, 'C', 20, 0}, {kNote, 'C', 36, 0},      {kAuthor, 'C', 24, 0},     {kAuthorReading, 'C', 24, 0},
      {kSubjects, 'C', 36, 0}, {kContents, 'C', 60, 0},       {kClassCode, 'C', 7, 0},   {kBookMark, 'C', 4, 0},
      {kVolumeMark, 'C', 4, 0}, {kPublisher, 'C', 16, 0},     {kYear, 'C', 4, 0},        {kPages, 'C', 6, 0},
      {kSize, 'C', 4, 0},
  };
  return fields;
}

// A record of the book table: the values in field order, numbers right-aligned.
std::string Book(const std::vector<std::string>& values, bool deleted = false) {
  std::string record(1, deleted ? '*' : ' ');
  for (size_t i = 0; i < BookFields().size(); ++i) {
    const size_t width = static_cast<size_t>(BookFields()[i].length);
    std::string v = i < values.size() ? values[i].substr(0, width) : std::string();
    const std::string pad(width - v.size(), ' ');
    record += BookFields()[i].type == 'N' ? pad + v : v + pad;
  }
  return record;
}

// Books with shared words and readings (half-width kana, hiragana that fold to them), equal
// and blank readings, a blank and a repeated registration number, a deleted book.
std::string BookTableBytes() {
  return shelfra::fuzz::TableBytes(
      BookFields(),
      {
          Book({"1", "The railway cat", "\303\302\304\336\263 \311 \310\272", "Rail books", "", "with maps",
                "Neko Yamada", "\310\272\324\317 \274\336\333\263", "\223S\223\271", "A cat rides the night train",
                "686.2", "N", "1", "Kisha", "1999", "213p", "19"}),
          Book({"2", "\202\313\202\261\202\314\223\372", "\310\272 \311 \313", "", "", "", "\224L\216R\216\237\230Y",
                "\310\272\324\317 \274\336\333\263", "\202\317\202\361", "The bakery cat and its \312\337\335",
                "913.6", "N", "", "Shobo", "2004", "95p", "21"}),
          Book({"3", "Cats of the hills", "\310\272", "Hill series", "\273\336 \314\336\257\270", "", "Ann Other",
                "", "", "", "913.6", "A", "2"}),
          Book({"4", "Morning songs", "\261\273 \311 \263\300", "", "", "the second edition", "", "", "music",
                "Songs for the morning", "767", "M"}),
          Book({"", "Untitled", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""}),
          Book({"6", "The book", "\273\336 \314\336\257\270", "", "", "", "The Author", "", "\203K\203\211\203X",
                "Glass and the light", "751", "T"}),
          Book({"7", "Deleted cat", "\310\272", "", "", "", "", "", "", "", "913.6"}, true),
          Book({"2", "Another cat", "\310\272", "", "", "", "Neko", "\310\272", "", "", "913", "A", "", "", "2010"}),
          Book({"9", "Railway timetables", "", "Rail books", "", "", "", "", "\223S\223\271", "the trains of 1999",
                "686", "R", "3"}),
          Book({"10", "Bread", "\312\337\335", "", "", "", "", "", "\202\317\202\361", "", "596", "B"}),
          Book({"12", "the end", "\310\272 \311 \313", "", "", "", "", "", "", "", "9"}),
      });
}

shelfra::SearchIndexFields BookIndexFields() {
  shelfra::SearchIndexFields fields;
  for (const char* name : {kTitle, kReading, kSeries, kSeriesReading, kNote, kAuthor, kAuthorReading, kSubjects,
                           kContents, kClassCode}) {
    fields.texts.emplace_back(name);
  }
  fields.sort = kReading;
  fields.number = kNumber;
  fields.grouped = kClassCode;
  fields.keyed = kPublisher;
  fields.key_rule = "first-byte";
  fields.key_of = [](std::string_view text) { return std::string(text.substr(0, 1)); };
  for (const char* name : {kNumber, kClassCode, kBookMark, kVolumeMark, kTitle, kSeries, kAuthor, kPublisher, kYear,
                           kPages, kSize}) {
    fields.shown.emplace_back(name);
  }
  return fields;
}

// The searches of the catalogue's shape: the title test over its five fields.
std::string TitleLike(const std::string& word) {
  std::string out;
  for (const char* name : {kTitle, kReading, kSeries, kSeriesReading, kNote}) {
    out += (out.empty() ? "((" : " or (") + std::string(name) + " like \"%" + word + "%\")";
  }
  return out + ")";
}

// The searches: a rare word, a common one with an author, a keyword, a class prefix, one
// character (no pair: every record tested), the whole list (no condition); most in the title
// reading's order.
struct SearchShape {
  std::string condition;  // empty: none
  bool sorted;
};

std::vector<SearchShape> SearchShapes() {
  const std::string keyword = "\202\317\202\361";
  return {
      {TitleLike("rail"), true},
      {TitleLike("the") + " and ((" + kAuthor + " like \"%ne%\") or (" + kAuthorReading + " like \"%\310\272%\"))", true},
      {std::string("((") + kSubjects + " like \"%" + keyword + "%\") or (" + kContents + " like \"%" + keyword + "%\"))",
       false},
      {std::string(kClassCode) + " like \"91%\"", true},
      {std::string("not (") + kTitle + " like \"%e%\")", false},
      {"", true},
  };
}

// A search bound to the table once.
struct Search {
  std::unique_ptr<shelfra::SqlCondition> where;  // null: no condition
  std::vector<shelfra::SqlSortField> sort;
};

// Writes `bytes` as the whole file at `path`, over what is there in place: truncating a file
// to nothing or renaming over one makes the file system write the data out first (ext4's
// replace heuristics), which made every input wait for the disk.
void WriteFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || ::close(fd) != 0) std::abort();
}

// The table's full path has this length wherever the private folder is, so the path in a
// seed index takes the bytes the running fuzzer's path takes.
constexpr size_t kTablePathLength = 160;
constexpr std::string_view kFolderName = "/shelfra-index-fuzz-XXXXXX";
constexpr std::string_view kTableName = "/books.dbf";  // "books", x's to the length, ".dbf"

// The private folder with the table and its index, made once and removed at exit.
struct Fixture {
  Fixture() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = shelfra::FullPath(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    if (base.size() + kFolderName.size() + kTableName.size() >= kTablePathLength) base = "/tmp";
    std::string folder = base + std::string(kFolderName);
    if (::mkdtemp(folder.data()) == nullptr) {  // mode 0700
      std::fprintf(stderr, "index_fuzzer: cannot make a folder in %s\n", base.c_str());
      std::abort();
    }
    dir = folder;
    const std::string table_path =
        dir + "/books" + std::string(kTablePathLength - dir.size() - kTableName.size(), 'x') + ".dbf";
    WriteFile(table_path, BookTableBytes());
    if (!shelfra::DbfFile::Open(table_path, table).Ok() || table->ResolvedPath().size() != kTablePathLength) {
      std::abort();
    }
    index_path = shelfra::SearchIndex::PathFor(*table, dir);
    if (!shelfra::SearchIndex::Build(*table, BookIndexFields(), index_path).Ok()) std::abort();
    std::unique_ptr<shelfra::SearchIndex> index;
    if (!shelfra::SearchIndex::Open(*table, index_path, index).Ok()) std::abort();
    built = std::string(std::filesystem::file_size(index_path), '\0');
    const int fd = ::open(index_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, built.data(), built.size()) != static_cast<ssize_t>(built.size())) std::abort();
    ::close(fd);
    std::memcpy(&built_header, built.data(), sizeof built_header);
    for (const SearchShape& shape : SearchShapes()) {
      Search search;
      shelfra::SqlExpr expr;
      if (!shape.condition.empty() && (!shelfra::ParseCondition(shape.condition, expr).Ok() ||
                                       !shelfra::SqlCondition::Bind(expr, *table, shape.condition, search.where).Ok())) {
        std::abort();
      }
      if (shape.sorted) search.sort.push_back({table->FieldIndex(kReading), shelfra::ValueCategory::kText, false});
      searches.push_back(std::move(search));
    }
    if (const char* out = std::getenv("SHELFRA_INDEX_FUZZER_FIXTURE")) WriteFile(out, built);
  }
  ~Fixture() {
    table.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  std::string dir;
  std::unique_ptr<shelfra::DbfFile> table;
  std::string index_path;
  std::string built;  // the start-up index's bytes
  shelfra::IndexFileHeader built_header;
  std::vector<Search> searches;
};

// The input over the start-up index, made to pass the checksums and to name the table.
std::string IndexBytes(const Fixture& f, const uint8_t* data, size_t size) {
  using shelfra::kIndexSectionsStart;
  std::string bytes = f.built;
  if (size > bytes.size()) bytes.resize(size);
  if (size > 0) std::memcpy(bytes.data(), data, size);
  shelfra::IndexFileHeader h;
  std::memcpy(&h, bytes.data(), sizeof h);
  uint64_t end = h.crc_offset;
  if (end < kIndexSectionsStart || end % 4 != 0 || end > bytes.size()) end = (bytes.size() + 3) / 4 * 4;
  bytes.resize(end);
  const shelfra::IndexFileHeader& b = f.built_header;
  std::memcpy(h.magic, b.magic, sizeof h.magic);
  h.version = b.version;
  h.table_size = b.table_size;
  h.table_mtime_ns = b.table_mtime_ns;
  h.table_ctime_ns = b.table_ctime_ns;
  h.table_device = b.table_device;
  h.table_inode = b.table_inode;
  h.header_hash = b.header_hash;
  h.header_length = b.header_length;
  h.record_count = b.record_count;
  h.record_length = b.record_length;
  const std::string& path = f.table->ResolvedPath();
  h.path_length = static_cast<uint32_t>(path.size());
  if (h.path_offset >= kIndexSectionsStart && h.path_offset <= end && path.size() <= end - h.path_offset) {
    std::memcpy(bytes.data() + h.path_offset, path.data(), path.size());
  }
  std::vector<uint32_t> crcs;
  for (uint64_t at = kIndexSectionsStart; at < end; at += shelfra::kIndexBlockSize) {
    crcs.push_back(shelfra::Crc32c(bytes.data() + at, std::min(shelfra::kIndexBlockSize, end - at)));
  }
  h.crc_offset = end;
  h.block_count = crcs.size();
  h.crc_table_crc = shelfra::Crc32c(crcs.data(), crcs.size() * sizeof(uint32_t));
  bytes.append(reinterpret_cast<const char*>(crcs.data()), crcs.size() * sizeof(uint32_t));
  h.file_size = bytes.size();
  h.header_crc = 0;
  h.header_crc = shelfra::Crc32c(&h, sizeof h);
  std::memcpy(bytes.data(), &h, sizeof h);
  return bytes;
}

// Decodes the shown rows of an answer's live records, as a result list does (asking for
// them only when the index shows a field); each row the index gives holds every shown field
// with the length DecodeValue requires.
void ReadShownRows(const shelfra::DbfFile& table, const shelfra::SearchIndex& index,
                   const std::vector<uint32_t>& ordinals) {
  const std::vector<shelfra::DbfField>& fields = table.Fields();
  bool shows = false;
  for (size_t k = 0; k < fields.size(); ++k) shows = shows || index.Shows(static_cast<int>(k));
  if (!shows) return;
  std::vector<std::string_view> by_field(fields.size());
  std::string_view null_flags;
  for (uint32_t ordinal : ordinals) {
    if (!index.ShownRow(table, ordinal, by_field, null_flags)) return;  // damaged: the table answers
    for (size_t k = 0; k < fields.size(); ++k) {
      if (!index.Shows(static_cast<int>(k))) continue;
      const size_t length = static_cast<size_t>(fields[k].length);
      if (fields[k].dbf_type == 'C' ? by_field[k].size() > length : by_field[k].size() != length) std::abort();
      (void)table.DecodeValue(static_cast<int>(k), by_field[k], null_flags);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  const shelfra::DbfFile& table = *fixture.table;
  WriteFile(fixture.index_path, IndexBytes(fixture, data, size));
  std::unique_ptr<shelfra::SearchIndex> index;
  if (!shelfra::SearchIndex::Open(table, fixture.index_path, index).Ok()) return 0;

  for (const Search& search : fixture.searches) {
    std::vector<uint32_t> rows, ordinals;
    if (!index->Run(table, search.where.get(), search.sort, rows, &ordinals)) continue;  // the scan answers
    if (ordinals.size() != rows.size()) std::abort();
    for (size_t k = 0; k < rows.size(); ++k) {
      if (rows[k] >= table.RecordCount() || ordinals[k] >= index->LiveCount()) std::abort();
    }
    ReadShownRows(table, *index, ordinals);
    std::array<uint32_t, 256> counts{};
    if (index->CountLeadingBytes(table.FieldIndex(kClassCode), ordinals, counts)) {
      uint64_t total = 0;
      for (uint32_t count : counts) total += count;
      if (total != ordinals.size()) std::abort();
    }
  }
  for (const char* key : {"", "A", "\x82", "zzzzzzzzzzzzzzzzzzzzzz"}) {
    std::vector<uint32_t> records;
    if (!index->FindKey(table.FieldIndex(kPublisher), "first-byte", key, records)) continue;
    for (uint32_t record : records) {
      if (record >= table.RecordCount()) std::abort();
    }
  }
  // The detail page's seek: the records are checked by its caller as the table has them.
  const int number_field = table.FieldIndex(kNumber);
  for (double number : {1.0, 2.0, 7.0, 12.0, 99.0}) {
    std::vector<uint32_t> records;
    if (!index->FindNumber(number_field, number, records)) continue;
    for (uint32_t record : records) {
      if (record < table.RecordCount()) (void)table.Decode(table.Record(record), number_field);
    }
  }
  return 0;
}
