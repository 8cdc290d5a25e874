#include "engine/dbf_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/engine_test_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::DbfBuilder;
using testing::Sjis;

class DbfFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "dbf_file_test_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".dbf";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // Writes `bytes` as the table file and opens it; nullptr when the engine refuses it, with
  // the reason in status_.
  std::unique_ptr<DbfFile> OpenBytes(const std::string& bytes) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::unique_ptr<DbfFile> file;
    status_ = DbfFile::Open(path_, file);
    return file;
  }

  // One-field table holding `values`; the decoded values of its records.
  std::vector<TFieldValue> DecodeAll(char type, int length, int decimals, const std::vector<std::string>& values) {
    DbfBuilder b;
    b.AddField("F", type, length, decimals);
    for (const std::string& v : values) b.AddRawRecord(" " + v);
    file_ = OpenBytes(b.Bytes());
    std::vector<TFieldValue> out;
    for (uint32_t i = 0; i < file_->RecordCount(); ++i) out.push_back(file_->Decode(file_->Record(i), 0));
    return out;
  }

  std::string path_;
  std::unique_ptr<DbfFile> file_;  // keeps decoded texts valid
  EngineStatus status_;
};

// A status saying the table at `path` changed while it was read.
void ExpectChanged(const EngineStatus& s, const std::string& path, const char* what) {
  EXPECT_EQ(s.code, kStatusTableChanged) << what;
  EXPECT_EQ(s.fault, EngineFault::kTableChanged) << what;
  EXPECT_EQ(s.subject, path) << what;
}

TEST_F(DbfFileTest, ReadsHeaderFieldsAndRecords) {
  DbfBuilder b;
  b.AddField(Sjis("登録日"), 'D', 8)
      .AddField(Sjis("登録番号"), 'N', 10)
      .AddField(Sjis("書名"), 'C', 20)
      .AddField(Sjis("禁帯出"), 'L', 1)
      .AddField("PRICE", 'N', 10, 2)
      .AddField("MEMO", 'M', 10)
      .AddField("INT", 'I', 4);
  b.SetLanguageDriver(0x13);
  b.AddRecord({"20040315", "123", Sjis("吾輩は猫である"), "T", "1500.50", "         7", "abcd"});
  b.AddRecord({"", "", "", "", "", "", ""}, true);
  auto f = OpenBytes(b.Bytes());

  EXPECT_EQ(f->Path(), path_);
  EXPECT_EQ(f->LanguageDriver(), 0x13);
  EXPECT_EQ(f->RecordCount(), 2u);
  EXPECT_EQ(f->RecordLength(), 1u + 8 + 10 + 20 + 1 + 10 + 10 + 4);
  ASSERT_EQ(f->Fields().size(), 7u);
  struct Expected {
    std::string name;
    char dbf_type;
    int length;
    int offset;
    TFieldType type;
  } expected[] = {
      {Sjis("登録日"), 'D', 8, 1, TFieldType::ftDate},       {Sjis("登録番号"), 'N', 10, 9, TFieldType::ftFloat},
      {Sjis("書名"), 'C', 20, 19, TFieldType::ftString},     {Sjis("禁帯出"), 'L', 1, 39, TFieldType::ftBoolean},
      {"PRICE", 'N', 10, 40, TFieldType::ftFloat},           {"MEMO", 'M', 10, 50, TFieldType::ftMemo},
      {"INT", 'I', 4, 60, TFieldType::ftUnknown},
  };
  for (size_t i = 0; i < 7; ++i) {
    const DbfField& field = f->Fields()[i];
    EXPECT_EQ(field.name, expected[i].name) << i;
    EXPECT_EQ(field.dbf_type, expected[i].dbf_type) << i;
    EXPECT_EQ(field.length, expected[i].length) << i;
    EXPECT_EQ(field.offset, expected[i].offset) << i;
    EXPECT_EQ(field.type, expected[i].type) << i;
  }
  EXPECT_EQ(f->FieldIndex(Sjis("書名")), 2);
  EXPECT_EQ(f->FieldIndex("price"), 4);
  EXPECT_EQ(f->FieldIndex("nothing"), -1);

  std::string_view r0 = f->Record(0);
  EXPECT_FALSE(DbfFile::IsDeleted(r0));
  EXPECT_TRUE(DbfFile::IsDeleted(f->Record(1)));
  EXPECT_EQ(f->Decode(r0, 0).date, DayNumber(2004, 3, 15));
  EXPECT_EQ(f->Decode(r0, 1).number, 123);
  EXPECT_EQ(f->Decode(r0, 2).text, Sjis("吾輩は猫である"));
  EXPECT_TRUE(f->Decode(r0, 3).flag);
  EXPECT_EQ(f->Decode(r0, 4).number, 1500.5);
  EXPECT_EQ(f->Decode(r0, 5).text, "7");
  EXPECT_EQ(f->Decode(r0, 6).text, "abcd");
  for (int i : {0, 1, 3, 4, 5, 6}) EXPECT_TRUE(f->Decode(f->Record(1), i).is_null) << i;
  EXPECT_FALSE(f->Decode(f->Record(1), 2).is_null);  // a blank character value is empty text
}

TEST_F(DbfFileTest, MapsNumericWidthsToFieldTypes) {
  struct Case {
    char type;
    int length;
    int decimals;
    TFieldType expected;
  } cases[] = {
      {'N', 1, 0, TFieldType::ftSmallint}, {'N', 4, 0, TFieldType::ftSmallint}, {'N', 5, 0, TFieldType::ftInteger},
      {'N', 9, 0, TFieldType::ftInteger},  {'N', 10, 0, TFieldType::ftFloat},   {'N', 4, 1, TFieldType::ftFloat},
      {'F', 4, 0, TFieldType::ftFloat},    {'F', 20, 5, TFieldType::ftFloat},
  };
  DbfBuilder b;
  for (const Case& c : cases) b.AddField("F", c.type, c.length, c.decimals);
  auto f = OpenBytes(b.Bytes());
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(f->Fields()[i].type, cases[i].expected) << cases[i].type << cases[i].length << "," << cases[i].decimals;
  }
}

TEST_F(DbfFileTest, DecodesCharacterValues) {
  struct Case {
    std::string stored;  // 8 bytes
    std::string expected;
  } cases[] = {
      {"abc     ", "abc"},
      {"  abc   ", "  abc"},  // leading blanks stay
      {"        ", ""},
      {"a b     ", "a b"},
      {std::string("ab\0\0\0\0\0\0", 8), "ab"},        // zero padding
      {std::string("ab \0cd  ", 8), "ab"},             // the value ends at its first zero byte
      {"\x83\x5C\x83\x74\x83\x67  ", "\x83\x5C\x83\x74\x83\x67"},  // trail bytes 0x5C kept
      {"abcdefgh", "abcdefgh"},
      // A lead byte without its second byte at the end is left out, with the blanks before it.
      {"abcdefg\x82", "abcdefg"},
      {"\x82\xa0\x82 \x82   ", "\x82\xa0"},          // and again when a blank stood in its place
      {"\x82\x9f\x82\x9f\x82   ", "\x82\x9f\x82\x9f"},  // trail bytes that could be lead bytes
      {"\x82\x9f\x82\x9f    ", "\x82\x9f\x82\x9f"},     // an even run is whole characters
      {"\xb1\x82\xa0 \x82   ", "\xb1\x82\xa0"},          // half-width kana ends a character
      {"\xff\xfe\x80\xa0    ", "\xff\xfe\x80\xa0"},     // bytes that are no Shift_JIS stay
  };
  std::vector<std::string> stored;
  for (const Case& c : cases) stored.push_back(c.stored);
  std::vector<TFieldValue> v = DecodeAll('C', 8, 0, stored);
  ASSERT_EQ(v.size(), std::size(cases));
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_FALSE(v[i].is_null) << i;
    EXPECT_EQ(v[i].text, cases[i].expected) << "stored '" << cases[i].stored << "'";
  }
}

TEST_F(DbfFileTest, DecodesNumbersAndTheirNullForms) {
  struct Case {
    std::string stored;  // 10 bytes
    std::optional<double> expected;
  } cases[] = {
      {"       123", 123},          {"    -12.50", -12.5},        {"      +7.5", 7.5},
      {"123       ", 123},          {"     .5   ", 0.5},          {"        5.", 5},
      {"    1.5E+3", 1500},         {"     -2e-2", -0.02},        {"         0", 0},
      {"1234567890", 1234567890},   {"          ", std::nullopt}, {"**********", std::nullopt},
      {"     12*34", std::nullopt}, {"       1 2", std::nullopt}, {"         -", std::nullopt},
      {"        +-", std::nullopt}, {"      +-12", std::nullopt}, {"      --12", std::nullopt},
      {"      1e5x", std::nullopt}, {"       1e ", std::nullopt}, {"       inf", std::nullopt},
      {"       nan", std::nullopt}, {"      0x1A", std::nullopt}, {"     1,5  ", std::nullopt},
      {"    1e9999", std::nullopt}, {"        .e", std::nullopt}, {std::string(10, '\0'), std::nullopt},
  };
  std::vector<std::string> stored;
  for (const Case& c : cases) {
    ASSERT_EQ(c.stored.size(), 10u) << c.stored;
    stored.push_back(c.stored);
  }
  std::vector<TFieldValue> v = DecodeAll('N', 10, 2, stored);
  ASSERT_EQ(v.size(), std::size(cases));
  for (size_t i = 0; i < v.size(); ++i) {
    if (cases[i].expected) {
      EXPECT_FALSE(v[i].is_null) << "stored '" << cases[i].stored << "'";
      EXPECT_DOUBLE_EQ(v[i].number, *cases[i].expected) << "stored '" << cases[i].stored << "'";
    } else {
      EXPECT_TRUE(v[i].is_null) << "stored '" << cases[i].stored << "'";
    }
  }
}

TEST_F(DbfFileTest, DecodesDatesAsDayNumbers) {
  struct Case {
    std::string stored;
    std::optional<int32_t> expected;
  } cases[] = {
      {"20040315", DayNumber(2004, 3, 15)},
      {"00010101", 1},
      {"99991231", DayNumber(9999, 12, 31)},
      {"20000229", DayNumber(2000, 2, 29)},
      {"        ", std::nullopt},
      {"00000000", std::nullopt},
      {"19000229", std::nullopt},  // 1900 is no leap year
      {"20041301", std::nullopt},
      {"20040431", std::nullopt},
      {"20040400", std::nullopt},
      {"2004 315", std::nullopt},
      {"2004-3-1", std::nullopt},
      {"0000101 ", std::nullopt},
  };
  std::vector<std::string> stored;
  for (const Case& c : cases) stored.push_back(c.stored);
  std::vector<TFieldValue> v = DecodeAll('D', 8, 0, stored);
  ASSERT_EQ(v.size(), std::size(cases));
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].is_null, !cases[i].expected.has_value()) << cases[i].stored;
    if (cases[i].expected) {
      EXPECT_EQ(v[i].date, *cases[i].expected) << cases[i].stored;
    }
  }
}

TEST_F(DbfFileTest, DecodesLogicals) {
  const std::string stored = "TtYyFfNn? X";
  std::vector<std::string> values;
  for (char c : stored) values.push_back(std::string(1, c));
  std::vector<TFieldValue> v = DecodeAll('L', 1, 0, values);
  ASSERT_EQ(v.size(), stored.size());
  for (size_t i = 0; i < v.size(); ++i) {
    bool is_true = i < 4, is_false = i >= 4 && i < 8;
    EXPECT_EQ(v[i].is_null, !is_true && !is_false) << stored[i];
    EXPECT_EQ(v[i].flag, is_true) << stored[i];
  }
}

TEST_F(DbfFileTest, RecordsMissingFromTheHeaderCountMakeTheTableDamaged) {
  // A table cut short would silently lose books, so it is refused; bytes after the counted
  // records are ignored. `expected` empty: a corrupt table, named in the status.
  struct Case {
    const char* name;
    std::optional<uint32_t> header_count;
    std::string end_mark;
    size_t cut;  // bytes removed from the end of the file
    std::optional<uint32_t> expected;
  } cases[] = {
      {"exact with end mark", std::nullopt, "\x1A", 0, 3},
      {"no end mark", std::nullopt, "", 0, 3},
      {"header counts fewer", 2, "\x1A", 0, 2},
      {"header counts zero", 0, "\x1A", 0, 0},
      {"header counts more", 9, "\x1A", 0, std::nullopt},
      {"last record cut short", std::nullopt, "\x1A", 3, std::nullopt},
      {"header counts more, end mark then padding", 9, std::string("\x1A") + std::string(20, ' '), 0, std::nullopt},
  };
  for (const Case& c : cases) {
    DbfBuilder b;
    b.AddField("A", 'C', 5).AddRecord({"one"}).AddRecord({"two"}, true).AddRecord({"three"});
    if (c.header_count) b.SetRecordCount(*c.header_count);
    b.SetEndMark(c.end_mark);
    std::string bytes = b.Bytes();
    bytes.resize(bytes.size() - c.cut);
    if (!c.expected) {
      EXPECT_EQ(OpenBytes(bytes), nullptr) << c.name;
      EXPECT_EQ(status_.code, kStatusTableCorrupt) << c.name;
      EXPECT_EQ(status_.fault, EngineFault::kTableRecordsMissing) << c.name;
      EXPECT_EQ(status_.subject, path_) << c.name;
      continue;
    }
    auto f = OpenBytes(bytes);
    ASSERT_EQ(f->RecordCount(), *c.expected) << c.name;
    if (*c.expected == 3) {
      EXPECT_EQ(f->Decode(f->Record(2), 0).text, "three") << c.name;
    }
  }
}

TEST_F(DbfFileTest, HonoursALargerHeaderAndRecordLength) {
  // Some writers leave room after the terminator, or pad records beyond their fields.
  DbfBuilder b;
  b.AddField("A", 'C', 3).AddField("B", 'N', 3);
  b.SetTerminator(std::string("\x0D") + std::string(263, '\0')).SetRecordLength(9);
  b.AddRawRecord(" abc 12xx").AddRawRecord("*xyz  3yy");
  auto f = OpenBytes(b.Bytes());
  ASSERT_EQ(f->RecordCount(), 2u);
  EXPECT_EQ(f->Decode(f->Record(1), 0).text, "xyz");
  EXPECT_EQ(f->Decode(f->Record(1), 1).number, 3);
}

TEST_F(DbfFileTest, ReadsLongCharacterFields) {
  DbfBuilder b;
  b.AddField("LONG", 'C', 300).AddField("N", 'N', 2);
  b.AddRecord({std::string(299, 'x') + "y", "42"});
  auto f = OpenBytes(b.Bytes());
  EXPECT_EQ(f->Fields()[0].length, 300);
  EXPECT_EQ(f->Fields()[1].offset, 301);
  EXPECT_EQ(f->Decode(f->Record(0), 0).text.size(), 300u);
  EXPECT_EQ(f->Decode(f->Record(0), 1).number, 42);
}

TEST_F(DbfFileTest, StrayDecimalsOnACharacterFieldDoNotLengthenIt) {
  DbfBuilder b;
  b.AddField("A", 'C', 4, 2).AddField("B", 'C', 2);
  b.AddRecord({"abcd", "ef"});
  auto f = OpenBytes(b.Bytes());
  EXPECT_EQ(f->Fields()[0].length, 4);
  EXPECT_EQ(f->Decode(f->Record(0), 1).text, "ef");
}

TEST_F(DbfFileTest, MalformedFilesAreRefusedNamingTheFileAndTheFault) {
  auto base = [] {
    DbfBuilder b;
    b.AddField("A", 'C', 5).AddField("B", 'N', 4).AddRecord({"x", "1"});
    return b;
  };
  struct Case {
    const char* name;
    std::string bytes;
    EngineFault fault;
    std::string field;  // the field concerned
    int64_t first;     // the size, header length, field length or record length concerned
  };
  using F = EngineFault;
  std::vector<Case> cases;
  cases.push_back({"empty file", "", F::kTableTruncated, "", 0});
  cases.push_back({"31 bytes", base().Bytes().substr(0, 31), F::kTableTruncated, "", 31});
  cases.push_back({"cut inside the descriptors", base().Bytes().substr(0, 70), F::kTableTruncated, "", 70});
  cases.push_back({"header longer than file", base().SetHeaderLength(4000).Bytes(), F::kTableTruncated, "", static_cast<int64_t>(base().Bytes().size())});
  cases.push_back({"no terminator", base().SetTerminator("").SetHeaderLength(97).Bytes(), F::kTableNoTerminator, "", 97});
  cases.push_back({"header length too small", base().SetHeaderLength(64).Bytes(), F::kTableNoTerminator, "", 64});
  cases.push_back({"header length 0", base().SetHeaderLength(0).Bytes(), F::kTableNoTerminator, "", 0});
  cases.push_back({"no fields", DbfBuilder().Bytes(), F::kTableNoFields, "", 0});
  cases.push_back({"record length 0", base().SetRecordLength(0).Bytes(), F::kTableFieldPastRecord, "A", 0});
  cases.push_back({"field past record", base().SetRecordLength(8).Bytes(), F::kTableFieldPastRecord, "B", 8});
  {
    DbfBuilder b = base();
    b.AddField("Z", 'C', 0);
    cases.push_back({"zero length", b.Bytes(), F::kTableBadFieldLength, "Z", 0});
  }
  {
    DbfBuilder b;
    b.AddField("D", 'D', 6);
    cases.push_back({"short date", b.Bytes(), F::kTableBadFieldLength, "D", 6});
  }
  {
    DbfBuilder b;
    b.AddField("L", 'L', 2);
    cases.push_back({"wide logical", b.Bytes(), F::kTableBadFieldLength, "L", 2});
  }
  {
    DbfBuilder b;
    b.AddField("A", 'C', 200, 200).SetRecordLength(100);  // neither reading fits
    cases.push_back({"absurd character length", b.Bytes(), F::kTableFieldPastRecord, "A", 100});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(OpenBytes(c.bytes), nullptr) << c.name;
    EXPECT_EQ(status_.code, kStatusTableCorrupt) << c.name;
    EXPECT_EQ(status_.fault, c.fault) << c.name << ": " << testing::Describe(status_);
    EXPECT_EQ(status_.subject, path_) << c.name;
    EXPECT_EQ(status_.name, c.field) << c.name;
    EXPECT_EQ(status_.first, c.first) << c.name;
  }
}

TEST_F(DbfFileTest, MissingUnreadableOrSpecialFilesAreRefusedNamingTheFile) {
  std::unique_ptr<DbfFile> file;
  EngineStatus s = DbfFile::Open(path_, file);
  EXPECT_EQ(s.code, kStatusTableNotFound);
  EXPECT_EQ(s.fault, EngineFault::kTableNotFound);
  EXPECT_EQ(s.subject, path_);
  s = DbfFile::Open(::testing::TempDir(), file);
  EXPECT_EQ(s.code, kStatusTableUnreadable);
  EXPECT_EQ(s.subject, ::testing::TempDir());
  // A FIFO in place of a table is refused without waiting for a writer.
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  s = DbfFile::Open(path_, file);
  EXPECT_EQ(s.code, kStatusTableUnreadable);
  EXPECT_EQ(s.subject, path_);
  EXPECT_EQ(file, nullptr);
}

// A table written by an independent program (see engine/testdata/README.md).
TEST(DbfFileFixtureTest, ReadsATableWrittenByAnotherProgram) {
  const char* source = std::getenv("SHELFRA_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "SHELFRA_SOURCE_DIR is not set (run through ctest)";
  auto f = testing::OpenTable(std::string(source) + "/engine/testdata/xbase_fixture.dbf");
  ASSERT_NE(f, nullptr);
  struct Field {
    const char* name;
    char dbf_type;
    int length;
    TFieldType type;
  } fields[] = {
      {"TITLE", 'C', 20, TFieldType::ftString}, {"REGNO", 'N', 8, TFieldType::ftInteger},
      {"PRICE", 'N', 8, TFieldType::ftFloat},   {"REGDATE", 'D', 8, TFieldType::ftDate},
      {"ONLOAN", 'L', 1, TFieldType::ftBoolean},
  };
  ASSERT_EQ(f->Fields().size(), std::size(fields));
  for (size_t i = 0; i < std::size(fields); ++i) {
    EXPECT_EQ(f->Fields()[i].name, fields[i].name);
    EXPECT_EQ(f->Fields()[i].dbf_type, fields[i].dbf_type) << fields[i].name;
    EXPECT_EQ(f->Fields()[i].length, fields[i].length) << fields[i].name;
    EXPECT_EQ(f->Fields()[i].type, fields[i].type) << fields[i].name;
  }
  EXPECT_EQ(f->Fields()[2].decimals, 2);
  ASSERT_EQ(f->RecordCount(), 3u);

  std::string_view r0 = f->Record(0);
  EXPECT_FALSE(DbfFile::IsDeleted(r0));
  EXPECT_EQ(f->Decode(r0, 0).text, Sjis("吾輩は猫である"));
  EXPECT_EQ(f->Decode(r0, 1).number, 1234);
  EXPECT_DOUBLE_EQ(f->Decode(r0, 2).number, 1500.5);
  EXPECT_EQ(f->Decode(r0, 3).date, DayNumber(2004, 3, 15));
  EXPECT_TRUE(f->Decode(r0, 4).flag);

  std::string_view r1 = f->Record(1);
  EXPECT_FALSE(DbfFile::IsDeleted(r1));
  EXPECT_EQ(f->Decode(r1, 0).text, "Plain ASCII");
  EXPECT_EQ(f->Decode(r1, 1).number, -7);
  EXPECT_TRUE(f->Decode(r1, 2).is_null);
  EXPECT_TRUE(f->Decode(r1, 3).is_null);
  EXPECT_FALSE(f->Decode(r1, 4).is_null);
  EXPECT_FALSE(f->Decode(r1, 4).flag);

  EXPECT_TRUE(DbfFile::IsDeleted(f->Record(2)));
  EXPECT_EQ(f->Decode(f->Record(2), 0).text, "gone");
}

// A table of `records` records of 100 bytes each: several pages of the file.
DbfBuilder PagedTable(int records) {
  DbfBuilder b;
  b.AddField("NO", 'N', 8).AddField("TITLE", 'C', 91);
  for (int i = 0; i < records; ++i) b.AddRecord({std::to_string(i + 1), "title " + std::to_string(i + 1)});
  return b;
}

TEST_F(DbfFileTest, TableThatShrinksUnderTheReaderIsReportedInsteadOfCrashing) {
  // A new catalogue copied over the old one truncates the file first. The pages past the new
  // end are gone from the mapping: reading them must neither crash nor read garbage.
  file_ = OpenBytes(PagedTable(400).Bytes());
  ASSERT_EQ(file_->RecordCount(), 400u);
  EXPECT_EQ(file_->Decode(file_->Record(0), 1).text, "title 1");
  EXPECT_TRUE(file_->CheckIntact().Ok());
  ASSERT_EQ(::truncate(path_.c_str(), 100), 0);

  TFieldValue last = file_->Decode(file_->Record(399), 1);  // the page is gone: zeros
  EXPECT_FALSE(last.is_null);
  EXPECT_EQ(last.text, "");
  EXPECT_TRUE(file_->Decode(file_->Record(399), 0).is_null);
  ExpectChanged(file_->CheckIntact(), path_, "CheckIntact");
  ExpectChanged(DbfFile::CheckAllUnchanged(), path_, "every open table");
  std::string buffer;
  std::string_view records;
  ExpectChanged(file_->ReadRecords(0, 400, buffer, records), path_, "ReadRecords");
  file_.reset();
  EXPECT_TRUE(DbfFile::CheckAllUnchanged().Ok());  // a closed file is no longer checked
}

TEST_F(DbfFileTest, TableChangedInPlaceIsSeenBeforeTheAnswerGoesOut) {
  std::string bytes = PagedTable(3).Bytes();
  file_ = OpenBytes(bytes);
  EXPECT_TRUE(file_->CheckUnchanged().Ok());
  // Same size, other bytes, another modification time: no page is lost, but the answer
  // would mix two catalogues.
  bytes[bytes.size() - 2] = 'X';
  std::FILE* f = std::fopen(path_.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  EXPECT_TRUE(file_->CheckIntact().Ok());  // nothing was lost
  ExpectChanged(file_->CheckUnchanged(), path_, "CheckUnchanged");
}

TEST_F(DbfFileTest, TableReplacedByRenameKeepsTheOldBytes) {
  // The safe way to publish a catalogue: write a new file, then rename it over the old one.
  file_ = OpenBytes(PagedTable(3).Bytes());
  std::string fresh = path_ + ".new";
  PagedTable(1).WriteTo(fresh);
  ASSERT_EQ(std::rename(fresh.c_str(), path_.c_str()), 0);
  EXPECT_TRUE(file_->CheckUnchanged().Ok());
  EXPECT_EQ(file_->RecordCount(), 3u);
  EXPECT_EQ(file_->Decode(file_->Record(2), 1).text, "title 3");
}

}  // namespace
}  // namespace shelfra
