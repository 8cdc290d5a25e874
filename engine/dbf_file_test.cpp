#include "engine/dbf_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "engine/engine_test_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::DbfBuilder;
using testing::LittleEndian;
using testing::Sjis;

// The eight bytes of a T field: Julian day number, then milliseconds since midnight.
std::string DateTimeBytes(int64_t julian_day, uint32_t milliseconds) {
  return LittleEndian(static_cast<uint64_t>(julian_day), 4) + LittleEndian(milliseconds, 4);
}

// The Julian day number of a date.
int64_t JulianDay(int year, int month, int day) { return DayNumber(year, month, day) + int64_t{1721425}; }

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
      .AddField("ODD", 'X', 4);
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
      {"ODD", 'X', 4, 60, TFieldType::ftUnknown},
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
  for (auto [type, length] : {std::pair{'I', 8}, std::pair{'Y', 4}, std::pair{'T', 10}}) {
    DbfBuilder b;
    b.AddField("F", type, length);
    cases.push_back({"fixed length", b.Bytes(), F::kTableBadFieldLength, "F", length});
  }
  {
    // Nine nullable fields need nine bits; one byte of null flags holds eight.
    DbfBuilder b;
    for (char name = 'A'; name <= 'I'; ++name) b.AddField(std::string(1, name), 'C', 1, 0, 0x02);
    b.AddField("_NullFlags", '0', 1, 0, 0x05);
    cases.push_back({"null flags too short", b.Bytes(), F::kTableBadFieldLength, "_NullFlags", 1});
  }
  {
    DbfBuilder b;
    b.AddField("_NullFlags", '0', 1, 0, 0x05);
    cases.push_back({"null flags alone", b.Bytes(), F::kTableNoFields, "", 0});
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

TEST_F(DbfFileTest, MapsFoxProTypes) {
  struct Case {
    char type;
    int length;
    TFieldType expected;
  } cases[] = {
      {'I', 4, TFieldType::ftInteger}, {'B', 8, TFieldType::ftFloat},  {'B', 10, TFieldType::ftMemo},
      {'Y', 8, TFieldType::ftFloat},   {'T', 8, TFieldType::ftDateTime}, {'V', 10, TFieldType::ftString},
      {'Q', 10, TFieldType::ftUnknown}, {'G', 4, TFieldType::ftUnknown},
  };
  DbfBuilder b;
  for (const Case& c : cases) b.AddField("F", c.type, c.length, c.type == 'Y' ? 4 : 0);
  auto f = OpenBytes(b.Bytes());
  ASSERT_NE(f, nullptr);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(f->Fields()[i].type, cases[i].expected) << cases[i].type << cases[i].length;
  }
}

TEST_F(DbfFileTest, DecodesFoxProBinaryNumbers) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  auto dbl = [](double d) { return LittleEndian(std::bit_cast<uint64_t>(d), 8); };
  struct Case {
    char type;
    std::string stored;
    double expected;
  } cases[] = {
      {'I', LittleEndian(0, 4), 0},
      {'I', LittleEndian(123, 4), 123},
      {'I', LittleEndian(0xFFFFFFFF, 4), -1},
      {'I', LittleEndian(0x80000000, 4), -2147483648.0},
      {'I', LittleEndian(0x7FFFFFFF, 4), 2147483647},
      {'I', "    ", 0x20202020},  // blanks are bytes of a number like any other
      {'B', dbl(0.25), 0.25},
      {'B', dbl(-1e300), -1e300},
      {'B', std::string(8, '\0'), 0},
      {'B', dbl(kInf), kInf},
      {'B', dbl(kNan), kNan},
      {'Y', LittleEndian(15005000, 8), 1500.5},
      {'Y', LittleEndian(~uint64_t{0}, 8), -0.0001},
      {'Y', std::string(8, '\0'), 0},
      {'Y', LittleEndian(uint64_t{1} << 63, 8), -922337203685477.5808},
  };
  for (const Case& c : cases) {
    std::vector<TFieldValue> v = DecodeAll(c.type, static_cast<int>(c.stored.size()), 0, {c.stored});
    ASSERT_EQ(v.size(), 1u);
    EXPECT_FALSE(v[0].is_null) << c.type << " " << c.expected;
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(v[0].number)) << c.type;
    } else {
      EXPECT_DOUBLE_EQ(v[0].number, c.expected) << c.type << " " << c.expected;
    }
  }
}

TEST_F(DbfFileTest, DecodesDateTimes) {
  struct Case {
    std::string stored;
    std::optional<std::pair<int32_t, int32_t>> expected;  // day number, milliseconds
  } cases[] = {
      {DateTimeBytes(2461384, 47107000), std::pair{DayNumber(2026, 12, 9), 47107000}},  // 13:05:07
      {DateTimeBytes(2461384, 0), std::pair{DayNumber(2026, 12, 9), 0}},
      {DateTimeBytes(1721426, 0), std::pair{1, 0}},  // 0001-01-01
      {DateTimeBytes(JulianDay(9999, 12, 31), 86399999), std::pair{DayNumber(9999, 12, 31), 86399999}},
      {DateTimeBytes(1721425, 0), std::nullopt},
      {DateTimeBytes(JulianDay(9999, 12, 31) + 1, 0), std::nullopt},
      {DateTimeBytes(2461384, 86400000), std::nullopt},
      {DateTimeBytes(0, 1000), std::nullopt},
      {DateTimeBytes(-5, 0), std::nullopt},
      {std::string(8, '\0'), std::nullopt},  // the empty date-time
      {std::string(8, ' '), std::nullopt},    // as some writers leave it
  };
  for (const Case& c : cases) {
    std::vector<TFieldValue> v = DecodeAll('T', 8, 0, {c.stored});
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].is_null, !c.expected.has_value()) << ::testing::PrintToString(c.stored);
    if (c.expected) {
      EXPECT_EQ(v[0].date, c.expected->first) << ::testing::PrintToString(c.stored);
      EXPECT_EQ(v[0].time, c.expected->second) << ::testing::PrintToString(c.stored);
    }
  }
}

// A field value as the tests compare it: "null"; a number in its shortest form ("1500.5",
// "-0", "1e+10"); a date "YYYY-MM-DD" and a date-time "YYYY-MM-DD hh:mm:ss.mmm"; a logical
// "T" or "F"; else the text's bytes.
std::string Shown(const DbfFile& f, std::string_view record, int field) {
  TFieldValue v = f.Decode(record, field);
  if (v.is_null) return "null";
  char buf[64];
  switch (f.Fields()[static_cast<size_t>(field)].type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftFloat:
      return std::string(buf, std::to_chars(buf, buf + sizeof buf, v.number).ptr);
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: {
      int y = 0, m = 0, d = 0;
      DayNumberToDate(v.date, y, m, d);
      int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
      if (f.Fields()[static_cast<size_t>(field)].type == TFieldType::ftDateTime) {
        n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), " %02d:%02d:%02d.%03d", v.time / 3600000,
                           v.time / 60000 % 60, v.time / 1000 % 60, v.time % 1000);
      }
      return std::string(buf, static_cast<size_t>(n));
    }
    case TFieldType::ftBoolean:
      return v.flag ? "T" : "F";
    default:
      return std::string(v.text);
  }
}

TEST_F(DbfFileTest, NullFlagsMakeValuesNullAndGiveVaryingLengths) {
  // Bits: A null 0; V length 1, V null 2; I null 3. N is not nullable and B2 is binary (0x04),
  // which takes no bit.
  DbfBuilder b;
  b.SetVersion(0x30);
  b.AddField("A", 'C', 4, 0, 0x02)
      .AddField("N", 'N', 4)
      .AddField("V", 'V', 6, 0, 0x02)
      .AddField("I", 'I', 4, 0, 0x02)
      .AddField("B2", 'C', 2, 0, 0x04)
      .AddField("_NullFlags", '0', 1, 0, 0x05);
  const std::string i7 = LittleEndian(7, 4);
  struct Case {
    std::string v_bytes;
    uint8_t flags;
    std::vector<std::string> expected;  // A, N, V, I, B2
  } cases[] = {
      {"xyz   ", 0x00, {"abcd", "12", "xyz   ", "7", "ok"}},
      {"xyz   ", 0x01, {"null", "12", "xyz   ", "7", "ok"}},
      {std::string("xy\0\0\0\x02", 6), 0x02, {"abcd", "12", "xy", "7", "ok"}},
      {std::string("\0\0\0\0\0\0", 6), 0x02, {"abcd", "12", "", "7", "ok"}},
      {std::string("xy\0\0\0\x09", 6), 0x02, {"abcd", "12", std::string("xy\0\0\0", 5), "7", "ok"}},  // at most 5
      {"xyz   ", 0x04, {"abcd", "12", "null", "7", "ok"}},
      {"xyz   ", 0x08, {"abcd", "12", "xyz   ", "null", "ok"}},
      {"xyz   ", 0xF0, {"abcd", "12", "xyz   ", "7", "ok"}},  // bits no field takes
      {"xyz   ", 0x0F, {"null", "12", "null", "null", "ok"}},
  };
  for (const Case& c : cases) {
    b.AddRawRecord(" abcd  12" + c.v_bytes + i7 + "ok" + std::string(1, static_cast<char>(c.flags)));
  }
  auto f = OpenBytes(b.Bytes());
  ASSERT_NE(f, nullptr) << testing::Describe(status_);
  ASSERT_EQ(f->Fields().size(), 5u);  // the null flags are no field
  EXPECT_EQ(f->FieldIndex("_NullFlags"), -1);
  EXPECT_EQ(f->Fields()[4].offset, 19);
  EXPECT_EQ(f->RecordLength(), 22u);
  for (size_t r = 0; r < std::size(cases); ++r) {
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(Shown(*f, f->Record(static_cast<uint32_t>(r)), i), cases[r].expected[static_cast<size_t>(i)])
          << "record " << r << " field " << f->Fields()[static_cast<size_t>(i)].name;
    }
  }
}

TEST_F(DbfFileTest, DescriptorFlagsWithoutNullFlagsAreNotRead) {
  // dBase III leaves byte 18 of a descriptor to other uses; without null flags nothing is null.
  DbfBuilder b;
  b.AddField("A", 'C', 4, 0, 0x02).AddField("I", 'I', 4, 0, 0x02);
  b.AddRawRecord(" abcd" + LittleEndian(5, 4));
  auto f = OpenBytes(b.Bytes());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Shown(*f, f->Record(0), 0), "abcd");
  EXPECT_EQ(Shown(*f, f->Record(0), 1), "5");
}

// Tables of the FoxPro family written by independent programs (see engine/testdata/README.md):
// their fields, then each record as deleted or not and its values as Shown.
TEST(DbfFileFixtureTest, ReadsFoxProTablesWrittenByOtherPrograms) {
  struct Field {
    std::string name;  // UTF-8
    char dbf_type;
    int length;
    TFieldType type;
  };
  struct Record {
    bool deleted;
    std::vector<std::string> values;  // UTF-8
  };
  struct Fixture {
    const char* file;
    uint8_t version;
    std::vector<Field> fields;
    std::vector<Record> records;
  };
  using T = TFieldType;
  const Fixture fixtures[] = {
      {"vfp_fixture.dbf",  // python3-dbf: null flags after the fields, nulls in records 1 and 2
       0x30,
       {{"TITLE", 'C', 20, T::ftString},
        {"REGNO", 'I', 4, T::ftInteger},
        {"STAMP", 'T', 8, T::ftDateTime},
        {"DUE", 'D', 8, T::ftDate},
        {"ONLOAN", 'L', 1, T::ftBoolean},
        {"PRICE", 'Y', 8, T::ftFloat},
        {"RATIO", 'B', 8, T::ftFloat}},
       {{false, {"吾輩は猫である", "1234", "2026-12-09 13:05:07.000", "2026-12-20", "T", "1500.5", "0.25"}},
        {false, {"null", "-7", "null", "null", "null", "0", "-1.5"}},
        {false, {"ｺｺﾛ", "null", "2000-01-01 00:00:00.000", "1999-12-31", "F", "-1e-04", "1e+10"}},
        {true,
         {"消えた本", "2147483646", "0001-01-01 23:59:59.000", "0001-01-01", "T", "922337203685477.6", "-0"}}}},
      {"dbffile_fixture.dbf",  // dbffile: no null flags; empty values written as blanks or zeros
       0x30,
       {{"登録番号", 'I', 4, T::ftInteger},
        {"書名", 'C', 20, T::ftString},
        {"価格", 'Y', 8, T::ftFloat},
        {"比率", 'B', 8, T::ftFloat},
        {"登録日時", 'T', 8, T::ftDateTime},
        {"登録日", 'D', 8, T::ftDate},
        {"禁帯出", 'L', 1, T::ftBoolean},
        {"分類", 'N', 4, T::ftSmallint}},
       {{false, {"1234", "吾輩は猫である", "1500.5", "0.25", "2026-12-09 13:05:07.000", "2004-03-15", "T", "913"}},
        {false, {"-2147483648", "", "0", "0", "null", "null", "null", "null"}},
        {false, {"2147483647", "ｺｺﾛ", "-1e-04", "-1e+300", "2000-01-01 00:00:00.000", "1999-12-31", "F", "-5"}}}},
      {"foxpro2_fixture.dbf",  // XBase: FoxPro 2.x with memo; numbers written left-aligned
       0xF5,
       {{"TITLE", 'C', 20, T::ftString},
        {"PRICE", 'N', 8, T::ftInteger},
        {"RATIO", 'F', 12, T::ftFloat},
        {"REGDATE", 'D', 8, T::ftDate},
        {"ONLOAN", 'L', 1, T::ftBoolean},
        {"NOTE", 'M', 10, T::ftMemo}},
       {{false, {"坊っちゃん", "1500", "0.125", "1906-04-01", "T", "1"}},
        {false, {"Plain", "null", "-2.5", "null", "null", "null"}}}},
  };
  const char* source = std::getenv("SHELFRA_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "SHELFRA_SOURCE_DIR is not set (run through ctest)";
  for (const Fixture& x : fixtures) {
    auto f = testing::OpenTable(std::string(source) + "/engine/testdata/" + x.file);
    ASSERT_NE(f, nullptr) << x.file;
    EXPECT_EQ(f->Version(), x.version) << x.file;
    ASSERT_EQ(f->Fields().size(), x.fields.size()) << x.file;
    for (size_t i = 0; i < x.fields.size(); ++i) {
      const DbfField& field = f->Fields()[i];
      EXPECT_EQ(field.name, Sjis(x.fields[i].name)) << x.file << " " << i;
      EXPECT_EQ(field.dbf_type, x.fields[i].dbf_type) << x.file << " " << x.fields[i].name;
      EXPECT_EQ(field.length, x.fields[i].length) << x.file << " " << x.fields[i].name;
      EXPECT_EQ(field.type, x.fields[i].type) << x.file << " " << x.fields[i].name;
    }
    ASSERT_EQ(f->RecordCount(), x.records.size()) << x.file;
    for (uint32_t r = 0; r < f->RecordCount(); ++r) {
      EXPECT_EQ(DbfFile::IsDeleted(f->Record(r)), x.records[r].deleted) << x.file << " record " << r;
      for (size_t i = 0; i < x.fields.size(); ++i) {
        EXPECT_EQ(Shown(*f, f->Record(r), static_cast<int>(i)), Sjis(x.records[r].values[i]))
            << x.file << " record " << r << " " << x.fields[i].name;
      }
    }
  }
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
