// Tests of the search index: every search shape answered with and without the index gives the
// same records in the same order; stale, damaged and foreign index files are never used.
#include "engine/search_index.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/dbf_file.h"
#include "engine/engine_test_support.h"
#include "engine/index_keeper.h"
#include "engine/kana_fold.h"
#include "engine/sql_condition.h"
#include "tests/support/book_tables.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::OpenTable;
using testing::RunStatement;
using testing::Sjis;

// What the catalogue's indexes hold.
SearchIndexFields BookIndexFields() {
  SearchIndexFields fields;
  for (const char* name : {"書名", "書名ｶﾅ", "叢書名", "叢書名ｶﾅ", "注記", "著者名", "著者名ｶﾅ", "件名", "内容紹介", "分類記号"}) {
    fields.texts.push_back(Sjis(name));
  }
  fields.sort = Sjis("書名ｶﾅ");
  fields.number = Sjis("登録番号");
  fields.grouped = Sjis("分類記号");
  // The publisher's first character as a key, to be found without a scan.
  fields.keyed = Sjis("出版者");
  fields.key_rule = "first-byte";
  fields.key_of = [](std::string_view text) { return std::string(text.substr(0, 1)); };
  // And the publishers' order; an order the table cannot give is left out.
  const int publisher_field = 11;
  fields.orders.push_back({"publisher", [](const DbfFile& file, std::string_view record) -> std::optional<std::string> {
                             return std::string(file.Decode(record, publisher_field).text);
                           }});
  fields.orders.push_back({"none", [](const DbfFile&, std::string_view) -> std::optional<std::string> { return {}; }});
  return fields;
}

// The index at `path`, or nullptr with the reason in `why` when given.
std::unique_ptr<SearchIndex> OpenIndex(const DbfFile& file, const std::string& path, IndexStatus* why = nullptr) {
  std::unique_ptr<SearchIndex> index;
  IndexStatus status = SearchIndex::Open(file, path, index);
  if (why != nullptr) *why = std::move(status);
  return index;
}

std::unique_ptr<SearchIndex> MakeIndex(const DbfFile& file, const std::string& directory) {
  std::string report;
  EXPECT_TRUE(BuildIndexNow(file, BookIndexFields(), directory, 0, report).Ok()) << report;
  return OpenIndex(file, SearchIndex::PathFor(file, directory));
}

// A book table with the searched fields, a field the index does not hold, blanks, deleted
// records and many equal readings.
class SearchIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "search_index_" + std::to_string(::getpid());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ + "/cache");
    table_ = dir_ + "/books.dbf";
    WriteTable(1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteTable(unsigned seed) { testing::RandomBookTable(seed).WriteTo(table_); }

  std::string dir_;
  std::string table_;
};

TEST(KanaFoldIndexTest, FoldedTextFoldsToItself) {
  // The index keeps folded text and matches patterns against it, which is exact only when
  // folding a folded character gives the same character.
  const KanaFold& fold = KanaFold::IgnoringCase();
  auto check = [&](const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p != end) {
      FoldedChar c = fold.Next(p, end);
      std::string once;
      KanaFold::AppendCode(c.code, once);
      const auto* q = reinterpret_cast<const unsigned char*>(once.data());
      FoldedChar again = fold.Next(q, q + once.size());
      ASSERT_EQ(again.code, c.code) << std::hex << "text byte " << int(*p);
      ASSERT_EQ(again.width, once.size());
      p += c.width;
    }
  };
  for (int b = 0; b < 256; ++b) check(std::string(1, static_cast<char>(b)));
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) check({static_cast<char>(lead), static_cast<char>(trail)});
  }
  for (int b = 0xA6; b <= 0xDD; ++b) {
    check({static_cast<char>(b), '\xDE'});
    check({static_cast<char>(b), '\xDF'});
  }
}

TEST_F(SearchIndexTest, OtherStatementsFallBackToTheScan) {
  std::unique_ptr<DbfFile> file = OpenTable(table_);
  std::unique_ptr<SearchIndex> index = MakeIndex(*file, dir_ + "/cache");
  ASSERT_NE(index, nullptr);
  struct Case {
    const char* statement;
    bool answered;  // by the index
  };
  const Case cases[] = {
      {"select * from books where not (書名 like '%ね%') and 注記 not like '%%'", true},
      {"select * from books where 書名 like '%ネコ%' or 件名 like '%ガ%'", true},
      {"select * from books", true},
      {"select * from books where 出版者 like '%ね%' order by 書名ｶﾅ", false},
      {"select * from books where 書名 = 'ねこ'", false},
      {"select * from books where 登録番号 > 10 order by 書名ｶﾅ", false},
      {"select * from books where 書名 like '%ね%' order by 書名ｶﾅ desc", false},
      {"select * from books order by 書名", false},
      {"select * from books order by 書名ｶﾅ, 書名", false},
  };
  for (const Case& c : cases) {
    const std::string statement = Sjis(c.statement);
    bool from_index = false;
    EXPECT_EQ(RunStatement(statement, *file, index.get(), &from_index), RunStatement(statement, *file))
        << c.statement;
    EXPECT_EQ(from_index, c.answered) << c.statement;
  }
}

TEST_F(SearchIndexTest, StaleDamagedOrForeignIndexesAreNotUsed) {
  const std::string cache = dir_ + "/cache";
  std::string path;
  {
    std::unique_ptr<DbfFile> file = OpenTable(table_);
    path = SearchIndex::PathFor(*file, cache);
    IndexStatus why;
    EXPECT_EQ(OpenIndex(*file, path, &why), nullptr);
    EXPECT_EQ(why.reason, IndexReason::kMissing);
    EXPECT_EQ(why.message, "missing");
    const IndexStatus built = SearchIndex::Build(*file, BookIndexFields(), path);
    ASSERT_TRUE(built.Ok()) << built.message;
    ASSERT_NE(OpenIndex(*file, path), nullptr);
    // Only the index itself is left in the directory: no temporary file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cache), std::filesystem::directory_iterator()), 1);
  }
  auto usable = [&] { return OpenIndex(*OpenTable(table_), path) != nullptr; };
  std::string good;
  {
    std::ifstream in(path, std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto write_index = [&](const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  };
  struct Damage {
    const char* what;
    size_t offset;  // a byte of the file header to change; npos: cut the file short
  };
  for (const Damage& d : {Damage{"magic", 0}, Damage{"version", 8}, Damage{"table size", 16}, Damage{"mtime", 24},
                          Damage{"header hash", 32}, Damage{"records offset", 75}, Damage{"cut short", std::string::npos}}) {
    std::string bytes = good;
    if (d.offset == std::string::npos) {
      bytes.resize(bytes.size() - 100);
    } else {
      bytes[d.offset] = static_cast<char>(bytes[d.offset] ^ 0x41);
    }
    write_index(bytes);
    EXPECT_FALSE(usable()) << d.what;
  }
  write_index(good);
  EXPECT_TRUE(usable());

  // A table changed in place (same size, another modification time) or rewritten makes the
  // index stale; a build then makes a fresh one that answers like the scan.
  struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, table_.c_str(), times, 0), 0);
  EXPECT_FALSE(usable());
  WriteTable(2);
  std::unique_ptr<DbfFile> file = OpenTable(table_);
  EXPECT_EQ(OpenIndex(*file, path), nullptr);
  std::unique_ptr<SearchIndex> index = MakeIndex(*file, cache);
  ASSERT_NE(index, nullptr);
  const std::string statement = Sjis("select * from books where 書名 like '%ね%' and 分類記号 like '9%' order by 書名ｶﾅ");
  EXPECT_EQ(RunStatement(statement, *file, index.get()), RunStatement(statement, *file));

  // An index made for another table of the same shape is refused (it records the path).
  const std::string other = dir_ + "/other.dbf";
  std::filesystem::copy_file(table_, other);
  struct stat st;
  ASSERT_EQ(::stat(table_.c_str(), &st), 0);
  struct timespec same[2] = {{0, UTIME_OMIT}, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
  EXPECT_EQ(OpenIndex(*OpenTable(other), path), nullptr);
}

// Statements of every kind the index answers, over the fixture table.
const char* const kIndexedStatements[] = {
    "select * from books where (書名 like '%ね%' or 書名ｶﾅ like '%ﾈ%') order by 書名ｶﾅ",
    "select * from books where 件名 like '%ガ%' and 内容紹介 like '%パン%'",
    "select * from books where 分類記号 like '9%' order by 書名ｶﾅ",
    // a class prefix is a range of the class order; tested further where other tests read it
    "select * from books where 分類記号 like '91%'",
    "select * from books where (書名 like '%%' or 注記 like '%%') and 分類記号 like '1%' order by 書名ｶﾅ",
    "select * from books where 分類記号 like '1%' and not 分類記号 like '10%' order by 書名ｶﾅ",
    "select * from books where 分類記号 like '9%' and 注記 not like '%ね%' order by 書名ｶﾅ",
    "select * from books where 分類記号 like '9%' or 書名 like '%ね%' order by 書名ｶﾅ",
    "select * from books where 分類記号 like '8%' order by 書名ｶﾅ",
    "select * from books order by 書名ｶﾅ",
    "select * from books where 書名 like '%鉄道%'",
};

// The index's answers, statements and seeks, which must be the scan's whatever the bytes.
void ExpectScanAnswers(const DbfFile& file, const SearchIndex& index, const std::string& what) {
  for (const char* statement : kIndexedStatements) {
    const std::string text = Sjis(statement);
    EXPECT_EQ(RunStatement(text, file, &index), RunStatement(text, file)) << what << ": " << statement;
  }
  const int number_field = file.FieldIndex(Sjis("登録番号"));
  for (double number : {1.0, 7.0, 200.0, 400.0, 401.0}) {
    std::vector<uint32_t> found;
    if (!index.FindNumber(number_field, number, found)) continue;  // left to the scan
    std::vector<uint32_t> scanned;
    for (uint32_t r = 0; r < file.RecordCount(); ++r) {
      TFieldValue v = file.Decode(file.Record(r), number_field);
      if (!DbfFile::IsDeleted(file.Record(r)) && !v.is_null && v.number == number) scanned.push_back(r);
    }
    EXPECT_EQ(found, scanned) << what << ": number " << number;
  }
  // The publishers' order of every third book of the reading order, as a stable sort gives it.
  std::vector<uint32_t> all, ordinals, places;
  std::vector<uint32_t> live;  // record number by ordinal
  for (uint32_t r = 0; r < file.RecordCount(); ++r) {
    if (!DbfFile::IsDeleted(file.Record(r))) live.push_back(r);
  }
  if (index.Run(file, nullptr, {SqlSortField{file.FieldIndex(Sjis("書名ｶﾅ")), ValueCategory::kText, false}}, all, &ordinals)) {
    std::vector<uint32_t> third;
    for (size_t i = 0; i < ordinals.size(); i += 3) third.push_back(ordinals[i]);
    for (const std::vector<uint32_t>* asked : {&ordinals, &third}) {  // many, then few
      if (!index.Reorder("publisher", *asked, places)) continue;
      std::vector<uint32_t> expected(asked->size());
      for (uint32_t i = 0; i < expected.size(); ++i) expected[i] = i;
      auto publisher = [&](uint32_t i) { return file.Decode(file.Record(live[(*asked)[i]]), 11).text; };
      std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) { return publisher(a) < publisher(b); });
      EXPECT_EQ(places, expected) << what << ": " << asked->size() << " books by publisher";
    }
  }
  EXPECT_FALSE(index.Reorder("none", {0}, places)) << what;
  const int keyed = file.FieldIndex(Sjis("出版者"));
  std::vector<uint32_t> found;
  EXPECT_FALSE(index.FindKey(keyed, "another rule", "a", found)) << what;
  EXPECT_FALSE(index.FindKey(number_field, "first-byte", "a", found)) << what;
  for (uint32_t r = 0; r < file.RecordCount(); r += 37) {
    const std::string key(file.Decode(file.Record(r), keyed).text.substr(0, 1));
    if (!index.FindKey(keyed, "first-byte", key, found)) continue;  // left to the scan
    std::vector<uint32_t> scanned;
    for (uint32_t k = 0; k < file.RecordCount(); ++k) {
      const std::string_view text = file.Decode(file.Record(k), keyed).text;
      if (!DbfFile::IsDeleted(file.Record(k)) && !key.empty() && text.substr(0, 1) == key) scanned.push_back(k);
    }
    EXPECT_EQ(found, scanned) << what << ": key " << key;
  }
}

TEST_F(SearchIndexTest, AnswersAreCountedByTheFirstByteOfTheGroupedField) {
  std::unique_ptr<DbfFile> file = OpenTable(table_);
  std::unique_ptr<SearchIndex> index = MakeIndex(*file, dir_ + "/cache");
  ASSERT_NE(index, nullptr);
  const int field = file->FieldIndex(Sjis("分類記号"));
  std::vector<uint8_t> first_bytes;  // by live ordinal
  for (uint32_t r = 0; r < file->RecordCount(); ++r) {
    if (DbfFile::IsDeleted(file->Record(r))) continue;
    const std::string_view text = file->Decode(file->Record(r), field).text;
    first_bytes.push_back(text.empty() ? 0 : static_cast<uint8_t>(text[0]));
  }
  ASSERT_EQ(first_bytes.size(), index->LiveCount());
  for (uint32_t step : {1u, 3u, 1000u}) {  // many ordinals read the section whole, few their bytes
    std::vector<uint32_t> ordinals;
    std::array<uint32_t, 256> expected{};
    for (uint32_t o = 0; o < first_bytes.size(); o += step) {
      ordinals.push_back(o);
      ++expected[first_bytes[o]];
    }
    std::array<uint32_t, 256> counts{};
    ASSERT_TRUE(index->CountLeadingBytes(field, ordinals, counts)) << step;
    EXPECT_EQ(counts, expected) << step;
  }
  std::array<uint32_t, 256> counts{};
  EXPECT_FALSE(index->CountLeadingBytes(file->FieldIndex(Sjis("書名")), {0}, counts));
}

TEST_F(SearchIndexTest, EveryChangedByteIsRefusedOrCaughtBeforeItAnswers) {
  testing::RandomBookTable(3, 4000).WriteTo(table_);  // an index of several checked blocks
  std::unique_ptr<DbfFile> file = OpenTable(table_);
  const std::string path = SearchIndex::PathFor(*file, dir_ + "/cache");
  ASSERT_NE(MakeIndex(*file, dir_ + "/cache"), nullptr);
  std::string good;
  {
    std::ifstream in(path, std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  size_t opened = 0, caught = 0;
  for (size_t offset = 0; offset < good.size(); offset += offset < 256 ? 1 : 1499) {
    std::string bytes = good;
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::unique_ptr<SearchIndex> index = OpenIndex(*file, path);
    if (index == nullptr) continue;
    ++opened;
    ExpectScanAnswers(*file, *index, "byte " + std::to_string(offset));
    caught += index->Status().reason == IndexReason::kDamaged;
  }
  // A change in the header or the checksums is refused at once; one in the sections opens and
  // is caught when the block it is in is first read.
  EXPECT_GT(opened, 50u);
  EXPECT_GT(caught, opened / 2);
}

TEST_F(SearchIndexTest, ATableSwappedInWithItsTimesKeptIsAnotherFile) {
  // cp -p, rsync -t or unzip: another catalogue of the same size and header whose modification
  // time was kept, renamed over the table.
  std::unique_ptr<DbfFile> file = OpenTable(table_);
  const std::string path = SearchIndex::PathFor(*file, dir_ + "/cache");
  ASSERT_NE(MakeIndex(*file, dir_ + "/cache"), nullptr);
  struct stat st;
  ASSERT_EQ(::stat(table_.c_str(), &st), 0);
  const std::string other = table_ + ".new";
  testing::RandomBookTable(9).WriteTo(other);
  struct timespec same[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
  ASSERT_EQ(std::filesystem::file_size(other), static_cast<uintmax_t>(st.st_size));
  ASSERT_EQ(std::rename(other.c_str(), table_.c_str()), 0);
  std::unique_ptr<DbfFile> swapped = OpenTable(table_);
  EXPECT_EQ(swapped->OpenedMtimeNs(), file->OpenedMtimeNs());
  EXPECT_EQ(swapped->HeaderBytes(), file->HeaderBytes());
  IndexStatus why;
  EXPECT_EQ(OpenIndex(*swapped, path, &why), nullptr);
  EXPECT_EQ(why.reason, IndexReason::kStale) << why.message;
  EXPECT_NE(why.message.find("stale"), std::string::npos) << why.message;
}

TEST_F(SearchIndexTest, AnIndexCutShortUnderTheReaderIsLeftToTheScan) {
  std::unique_ptr<DbfFile> file = OpenTable(table_);
  const std::string path = SearchIndex::PathFor(*file, dir_ + "/cache");
  std::unique_ptr<SearchIndex> index = MakeIndex(*file, dir_ + "/cache");
  ASSERT_NE(index, nullptr);
  ASSERT_EQ(::truncate(path.c_str(), 300), 0);  // pages of the mapping go away: no crash
  ExpectScanAnswers(*file, *index, "cut short");
  EXPECT_EQ(index->Status().reason, IndexReason::kDamaged);
}

}  // namespace
}  // namespace shelfra
