// Tables, fields, seeks, the lending filter, observers and the session, over small .DBF files.
#include "data/dataset.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "data/database.h"
#include "engine/engine_test_support.h"
#include "data/db_errors.h"
#include "engine/host_config.h"
#include "data/query.h"
#include "data/session.h"
#include "data/table.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::DbfBuilder;
using testing::LittleEndian;
using testing::Sjis;
using testing::TempCatalogue;
using testing::Utf8;

// Book table: 登録日 D, 登録番号 N20 (float), 分類 N4 (smallint), 書名 C, 禁帯出 L, ISBN C.
DbfBuilder BookTable() {
  DbfBuilder b;
  b.AddField(Sjis("登録日"), 'D', 8)
      .AddField(Sjis("登録番号"), 'N', 20)
      .AddField(Sjis("分類"), 'N', 4)
      .AddField(Sjis("書名"), 'C', 40)
      .AddField(Sjis("禁帯出"), 'L', 1)
      .AddField("ISBN", 'C', 20);
  b.AddRecord({"20040315", "1", "9", Sjis("吾輩は猫である"), "T", "4-00-000001"});
  b.AddRecord({"", "1234.5", "-3", Sjis("端数"), "F", "123"});
  b.AddRecord({"20000105", "1234", "0", Sjis("千二百三十四"), "", ""});
  b.AddRecord({"", "99", "1", Sjis("消えた本"), "", ""}, /*deleted=*/true);
  b.AddRecord({"", "1000000000000000", "", Sjis("大きな番号"), "", ""});
  b.AddRecord({"", "", "", Sjis("番号なし"), "", ""});
  b.AddRecord({"", "1234", "2", Sjis("同じ番号"), "", ""});
  return b;
}

// Lending table: 登録番号, 返却済, 返却予定日.
DbfBuilder LendingTable() {
  DbfBuilder b;
  b.AddField(Sjis("登録番号"), 'N', 20).AddField(Sjis("返却済"), 'L', 1).AddField(Sjis("返却予定日"), 'D', 8);
  b.AddRecord({"1", "T", "20040110"});
  b.AddRecord({"2", "F", "20040315"});
  b.AddRecord({"3", " ", "20040501"});
  b.AddRecord({"2", "F", "20040401"});
  b.AddRecord({"4", "T", "20040101"});
  b.AddRecord({"4", "T", "20040201"});
  b.AddRecord({"5", "T", "20040301"});
  b.AddRecord({"5", "T", "20040302"});
  b.AddRecord({"5", "F", "20040630"});
  b.AddRecord({"6", "F", "20040701"}, /*deleted=*/true);
  b.AddRecord({"1234", "f", "20041231"});
  return b;
}

// The eight bytes of a T field: Julian day number, then milliseconds since midnight.
std::string DateTimeBytes(int year, int month, int day, int32_t milliseconds) {
  return LittleEndian(static_cast<uint64_t>(DayNumber(year, month, day) + 1721425), 4) +
         LittleEndian(static_cast<uint64_t>(milliseconds), 4);
}

// A Visual FoxPro book table: 登録日時 T (nullable), 登録番号 I, 書名 C (nullable), 価格 Y,
// 比率 B, 貸出中 L (nullable), and the null flags (bits: 登録日時 0, 書名 1, 貸出中 2).
DbfBuilder FoxProBookTable() {
  DbfBuilder b;
  b.SetVersion(0x30);
  b.AddField(Sjis("登録日時"), 'T', 8, 0, 0x02)
      .AddField(Sjis("登録番号"), 'I', 4)
      .AddField(Sjis("書名"), 'C', 20, 0, 0x02)
      .AddField(Sjis("価格"), 'Y', 8, 4)
      .AddField(Sjis("比率"), 'B', 8)
      .AddField(Sjis("貸出中"), 'L', 1, 0, 0x02)
      .AddField("_NullFlags", '0', 1, 0, 0x05);
  auto record = [&](const std::string& stamp, int32_t number, const std::string& title, int64_t price, double ratio,
                    char on_loan, uint8_t nulls) {
    std::string padded = title + std::string(20 - title.size(), ' ');
    b.AddRawRecord(" " + stamp + LittleEndian(static_cast<uint32_t>(number), 4) + padded +
                   LittleEndian(static_cast<uint64_t>(price), 8) + LittleEndian(std::bit_cast<uint64_t>(ratio), 8) +
                   std::string(1, on_loan) + std::string(1, static_cast<char>(nulls)));
  };
  record(DateTimeBytes(2026, 12, 9, 47107000), 123, Sjis("こころ"), 15005000, 0.25, 'T', 0);
  record(std::string(8, '\0'), -7, "stale", 0, -1.5, 'T', 0x06);  // 書名 and 貸出中 null
  record(DateTimeBytes(2000, 1, 1, 0), 2147483647, Sjis("猫"), -1, 1e10, 'F', 0);
  return b;
}

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue_.Write(Sjis("図書.DBF"), BookTable());
    catalogue_.Write(Sjis("貸出返却.DBF"), LendingTable());
    zosho_ = &owner_.Create<TTable>("ZoshoTable");
    zosho_->SetDatabaseName("Vadoz");
    zosho_->SetTableName(Sjis("図書.DBF"));
    kashi_ = &owner_.Create<TTable>("KashidashiTable");
    kashi_->SetDatabaseName("Vadoz");
    kashi_->SetTableName(Sjis("貸出返却.DBF"));
    kashi_->SetAutoRefresh(true);
    kashi_->SetFilter(Sjis("返却済 <> True"));
    kashi_->SetFiltered(true);
  }
  void TearDown() override {
    owner_.DestroyComponents();
    EXPECT_EQ(Session().DatabaseCount(), 0) << "a dataset kept its database";
  }

  // The registration numbers the dataset yields from its current record on, as text.
  static std::vector<std::string> Numbers(TDataSet& ds) {
    std::vector<std::string> out;
    for (; !ds.AtEnd(); ds.MoveNext()) out.push_back(ds.FieldNamed(Sjis("登録番号")).StringValue());
    return out;
  }

  TempCatalogue catalogue_;
  TComponent owner_{nullptr};
  TTable* zosho_ = nullptr;
  TTable* kashi_ = nullptr;
};

TEST_F(DataSetTest, TableYieldsRecordsInNaturalOrderWithoutDeletedOnes) {
  zosho_->Open();
  EXPECT_EQ(zosho_->FieldCount(), 6);
  EXPECT_EQ(zosho_->FieldAt(1).FieldName(), Sjis("登録番号"));
  EXPECT_EQ(zosho_->CountRecords(), 6);
  EXPECT_EQ(Numbers(*zosho_), (std::vector<std::string>{"1", "1234.5", "1234", "1E15", "", "1234"}));
  // Past the end the last record stays current.
  EXPECT_EQ(zosho_->FieldAt(3).StringValue(), Sjis("同じ番号"));
  zosho_->First();
  EXPECT_EQ(zosho_->FieldAt(3).StringValue(), Sjis("吾輩は猫である"));
}

TEST_F(DataSetTest, FirstFromLandsOnTheFirstLiveRecordAtOrAfterARecordNumber) {
  zosho_->Open();
  // Record 3 is deleted: from 3 the table lands on 4; past the last record there is none.
  const std::pair<int64_t, int64_t> cases[] = {{0, 0}, {2, 2}, {3, 4}, {6, 6}, {7, -1}, {100, -1}};
  for (const auto& [from, landed] : cases) {
    zosho_->FirstFrom(from);
    EXPECT_EQ(zosho_->AtEnd(), landed < 0) << from;
    EXPECT_EQ(zosho_->CursorPosition(), landed) << from;
  }
  zosho_->FirstFrom(3);
  zosho_->MoveNext();
  EXPECT_EQ(zosho_->CursorPosition(), 5);
}

TEST_F(DataSetTest, FieldTextsFollowTheTypeRules) {
  zosho_->Open();
  TField& date = zosho_->FieldNamed(Sjis("登録日"));
  TField& number = zosho_->FieldAt(1);
  TField& klass = zosho_->FieldNamed(Sjis("分類"));
  TField& flag = zosho_->FieldNamed(Sjis("禁帯出"));
  EXPECT_EQ(number.DataType(), TFieldType::ftFloat);
  EXPECT_EQ(klass.DataType(), TFieldType::ftSmallint);
  EXPECT_EQ(zosho_->FieldNamed(Sjis("書名")).Size(), 40);

  EXPECT_EQ(date.StringValue(), "3/15/04");
  EXPECT_EQ(number.DisplayText(), "1");
  EXPECT_EQ(number.IntegerValue(), 1);
  EXPECT_EQ(flag.StringValue(), "True");
  EXPECT_EQ(klass.StringValue(), "9");

  zosho_->MoveNext();  // 1234.5, smallint -3, logical false, blank date
  EXPECT_EQ(date.StringValue(), "");
  EXPECT_EQ(date.DisplayText(), "");
  EXPECT_EQ(number.StringValue(), "1234.5");
  EXPECT_EQ(number.IntegerValue(), 1234);
  EXPECT_EQ(klass.StringValue(), "-3");
  EXPECT_EQ(klass.IntegerValue(), -3);
  EXPECT_EQ(flag.DisplayText(), "False");
  EXPECT_EQ(zosho_->FieldNamed("ISBN").IntegerValue(), 123);

  zosho_->MoveNext();  // 1234 and a blank logical
  EXPECT_EQ(flag.StringValue(), "");
  EXPECT_TRUE(flag.IsNull());
  EXPECT_EQ(zosho_->FieldNamed("ISBN").StringValue(), "");

  zosho_->MoveNext();  // 10^15
  EXPECT_EQ(number.DisplayText(), "1E15");
  EXPECT_EQ(number.IntegerValue(), -1530494976);  // low 32 bits of 10^15
  EXPECT_EQ(klass.StringValue(), "");
  EXPECT_EQ(klass.IntegerValue(), 0);

  zosho_->MoveNext();  // blank number
  EXPECT_EQ(number.StringValue(), "");
  EXPECT_EQ(number.DisplayText(), "");
  EXPECT_EQ(number.IntegerValue(), 0);
  EXPECT_EQ(number.FloatValue(), 0);
}

TEST_F(DataSetTest, LocaleSettingsShapeDatesAndDecimals) {
  SetLocaleForTesting(LocaleSettings{',', '-', "yyyy/MM/dd"});
  zosho_->Open();
  EXPECT_EQ(zosho_->FieldNamed(Sjis("登録日")).StringValue(), "2004-03-15");
  zosho_->MoveNext();
  EXPECT_EQ(zosho_->FieldAt(1).DisplayText(), "1234,5");
  SetLocaleForTesting(LocaleSettings{'.', '/', "yyyy/MM/dd"});
  zosho_->MoveNext();
  EXPECT_EQ(zosho_->FieldNamed(Sjis("登録日")).StringValue(), "2000/01/05");
}

TEST_F(DataSetTest, FoxProFieldsReadLikeTheTypesTheyStandFor) {
  catalogue_.Write(Sjis("図書.DBF"), FoxProBookTable());
  zosho_->Open();
  ASSERT_EQ(zosho_->FieldCount(), 6);  // the null flags are no field
  EXPECT_EQ(zosho_->FieldAt(1).FieldName(), Sjis("登録番号"));
  const TFieldType types[] = {TFieldType::ftDateTime, TFieldType::ftInteger, TFieldType::ftString,
                              TFieldType::ftFloat,    TFieldType::ftFloat,   TFieldType::ftBoolean};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(zosho_->FieldAt(i).DataType(), types[i]) << i;
  // Each record's fields as text, in the default locale (m/d/yy) and in yyyy/mm/dd.
  struct Case {
    std::vector<std::string> texts;
    std::string stamp_ymd;
  } cases[] = {
      {{"12/9/26 13:05:07", "123", "こころ", "1500.5", "0.25", "True"}, "2026/12/09 13:05:07"},
      {{"", "-7", "", "0", "-1.5", ""}, ""},
      {{"1/1/00 0:00:00", "2147483647", "猫", "-0.0001", "10000000000", "False"}, "2000/01/01 0:00:00"},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Utf8(zosho_->FieldAt(i).DisplayText()), c.texts[static_cast<size_t>(i)]) << i;
    SetLocaleForTesting(LocaleSettings{'.', '/', "yyyy/mm/dd"});
    EXPECT_EQ(zosho_->FieldAt(0).StringValue(), c.stamp_ymd);
    SetLocaleForTesting(LocaleSettings{});
    zosho_->MoveNext();
  }
  zosho_->First();
  EXPECT_EQ(zosho_->FieldAt(1).IntegerValue(), 123);
  EXPECT_DOUBLE_EQ(zosho_->FieldAt(0).FloatValue(), 46365 + 47107.0 / 86400);  // days since 1899-12-30
  EXPECT_THROW(zosho_->FieldAt(0).IntegerValue(), EDatabaseError);
  zosho_->MoveNext();
  EXPECT_TRUE(zosho_->FieldAt(2).IsNull());
  EXPECT_TRUE(zosho_->FieldAt(5).IsNull());
  EXPECT_FALSE(zosho_->FieldAt(3).IsNull());  // a currency of zero is zero
}

TEST_F(DataSetTest, SeekOnAnIntegerFieldFindsTheNumberAndChecksTheRange) {
  catalogue_.Write(Sjis("図書.DBF"), FoxProBookTable());
  zosho_->Open();
  EXPECT_TRUE(zosho_->SeekEqual(Sjis("登録番号"), {-7}));
  EXPECT_EQ(zosho_->FieldAt(4).StringValue(), "-1.5");
  EXPECT_TRUE(zosho_->SeekEqual(Sjis("登録番号"), {2147483647.0}));
  EXPECT_FALSE(zosho_->SeekEqual(Sjis("登録番号"), {123.5}));
  EXPECT_THROW(zosho_->SeekEqual(Sjis("登録番号"), {2147483648.0}), EDatabaseError);
  EXPECT_THROW(zosho_->SeekEqual(Sjis("登録日時"), {1}), EDatabaseError);  // no seek on dates
}

TEST_F(DataSetTest, NullLogicalOfTheLendingTableCountsAsNotReturned) {
  DbfBuilder b;
  b.SetVersion(0x30);
  b.AddField(Sjis("登録番号"), 'I', 4, 0, 0x02)
      .AddField(Sjis("返却済"), 'L', 1, 0, 0x02)
      .AddField(Sjis("返却予定日"), 'D', 8, 0, 0x02)
      .AddField("_NullFlags", '0', 1, 0, 0x05);
  b.AddRawRecord(" " + LittleEndian(7, 4) + "T" + "20040110" + '\0');
  b.AddRawRecord(" " + LittleEndian(7, 4) + "T" + "20040315" + '\x02');  // 返却済 null: still out
  b.AddRawRecord(" " + LittleEndian(8, 4) + "F" + "20040401" + '\x04');  // due date null
  catalogue_.Write(Sjis("貸出返却.DBF"), b);
  kashi_->Open();
  EXPECT_EQ(Numbers(*kashi_), (std::vector<std::string>{"7", "8"}));
  ASSERT_TRUE(kashi_->SeekEqual(Sjis("登録番号"), {7}));
  EXPECT_EQ(kashi_->FieldNamed(Sjis("返却予定日")).StringValue(), "3/15/04");
  ASSERT_TRUE(kashi_->SeekEqual(Sjis("登録番号"), {8}));
  EXPECT_EQ(kashi_->FieldNamed(Sjis("返却予定日")).StringValue(), "");
}

TEST_F(DataSetTest, OnGetTextDecidesTheDisplayText) {
  zosho_->Open();
  TField& number = zosho_->FieldAt(1);
  number.OnGetText = [](TField& sender, std::string& text, bool display_text) {
    EXPECT_TRUE(display_text);
    text = "<" + sender.StringValue() + ">";
  };
  EXPECT_EQ(number.DisplayText(), "<1>");
  EXPECT_EQ(number.StringValue(), "1");
}

TEST_F(DataSetTest, WrongAccessRaisesTheDocumentedErrors) {
  zosho_->Open();
  try {
    zosho_->FieldNamed(Sjis("登録日")).IntegerValue();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.ClassName(), "EDatabaseError");
    EXPECT_EQ(Utf8(e.Message()), "項目 '登録日' を Integer 型としてアクセスすることはできません");
  }
  try {
    zosho_->FieldNamed(Sjis("禁帯出")).IntegerValue();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(Utf8(e.Message()), "項目 '禁帯出' を Integer 型としてアクセスすることはできません");
  }
  try {
    zosho_->FieldNamed("ISBN").IntegerValue();
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(Utf8(e.Message()), "'4-00-000001' は整数ではありません");
  }
  try {
    zosho_->FieldAt(6);
    ADD_FAILURE();
  } catch (const EListError& e) {
    EXPECT_EQ(Utf8(e.Message()), "リストのインデックスが範囲を超えています (6)");
  }
  EXPECT_THROW(zosho_->FieldAt(-1), EListError);
  try {
    zosho_->FieldNamed("Nosuch");
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(Utf8(e.Message()), "ZoshoTable: 項目 'Nosuch' が見つかりません");
  }
}

TEST_F(DataSetTest, FieldLookupIgnoresAsciiCaseOnly) {
  zosho_->Open();
  EXPECT_EQ(zosho_->FindFieldNamed("isbn"), &zosho_->FieldAt(5));
  EXPECT_EQ(zosho_->FindFieldNamed(Sjis("書名")), &zosho_->FieldAt(3));
  EXPECT_EQ(zosho_->FindFieldNamed(Sjis("書")), nullptr);
  zosho_->Close();
  EXPECT_EQ(zosho_->FindFieldNamed("ISBN"), nullptr);
  EXPECT_EQ(zosho_->FieldCount(), 0);
}

TEST_F(DataSetTest, ClosedDatasetRefusesCountsAndSeeks) {
  for (auto op : {+[](TTable& t) { t.CountRecords(); }, +[](TTable& t) { t.SeekEqual("ISBN", {std::string("x")}); },
                  +[](TTable& t) { t.MoveNext(); }}) {
    try {
      op(*zosho_);
      ADD_FAILURE();
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(Utf8(e.Message()), "ZoshoTable: データセットは閉じているため, この操作は実行できません");
    }
  }
}

TEST_F(DataSetTest, SeekComparesAnIntegerWithAFloatFieldAsADouble) {
  zosho_->Open();
  ASSERT_TRUE(zosho_->SeekEqual(Sjis("登録番号"), {1234}));
  EXPECT_EQ(zosho_->FieldAt(3).StringValue(), Sjis("千二百三十四"));  // not 1234.5 before it
  EXPECT_FALSE(zosho_->AtEnd());
  // Not found: false, and the record stays.
  EXPECT_FALSE(zosho_->SeekEqual(Sjis("登録番号"), {99}));  // only in a deleted record
  EXPECT_FALSE(zosho_->SeekEqual(Sjis(" 登録番号 "), {-1}));
  EXPECT_EQ(zosho_->FieldAt(3).StringValue(), Sjis("千二百三十四"));
  EXPECT_TRUE(zosho_->SeekEqual(Sjis("登録番号"), {1234.5}));
  EXPECT_EQ(zosho_->FieldAt(3).StringValue(), Sjis("端数"));
  EXPECT_TRUE(zosho_->SeekEqual(Sjis("登録番号;分類"), {1234, 2}));
  EXPECT_EQ(zosho_->FieldAt(3).StringValue(), Sjis("同じ番号"));
  EXPECT_TRUE(zosho_->SeekEqual("isbn", {std::string("4-00-000001")}));
  EXPECT_EQ(zosho_->FieldAt(1).StringValue(), "1");
}

TEST_F(DataSetTest, SeekAfterTheEndFindsFromTheStart) {
  zosho_->Open();
  while (!zosho_->AtEnd()) zosho_->MoveNext();
  ASSERT_TRUE(zosho_->SeekEqual(Sjis("登録番号"), {1}));
  EXPECT_FALSE(zosho_->AtEnd());
  zosho_->MoveNext();
  EXPECT_EQ(zosho_->FieldAt(1).StringValue(), "1234.5");
}

TEST_F(DataSetTest, SeekOnASmallintChecksTheRange) {
  zosho_->Open();
  zosho_->MoveNext();
  try {
    zosho_->SeekEqual(Sjis("分類"), {40000});
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(Utf8(e.Message()), "ZoshoTable: 定数が範囲を超えています");
  }
  EXPECT_EQ(zosho_->FieldAt(1).StringValue(), "1234.5");  // unmoved
  EXPECT_TRUE(zosho_->SeekEqual(Sjis("分類"), {-3}));
  EXPECT_TRUE(zosho_->SeekEqual(Sjis("分類"), {32767}) == false);
  EXPECT_THROW(zosho_->SeekEqual(Sjis("分類"), {-32769}), EDatabaseError);
  EXPECT_THROW(zosho_->SeekEqual("Nosuch", {1}), EDatabaseError);
}

TEST_F(DataSetTest, FilteredLendingTableHidesReturnedLoans) {
  kashi_->Open();
  EXPECT_EQ(kashi_->CountRecords(), 5);
  EXPECT_EQ(Numbers(*kashi_), (std::vector<std::string>{"2", "3", "2", "5", "1234"}));
  struct Case {
    int number;
    bool found;
    const char* due;
  } cases[] = {
      {2, true, "3/15/04"},   // the first of two open loans
      {1, false, nullptr},    // returned only
      {3, true, "5/1/04"},    // a blank flag counts as not returned
      {4, false, nullptr},    // two returned loans
      {5, true, "6/30/04"},   // one open loan after two returned ones
      {6, false, nullptr},    // deleted
      {1234, true, "12/31/04"},
  };
  std::string last_due;
  for (const Case& c : cases) {
    EXPECT_EQ(kashi_->SeekEqual(Sjis("登録番号"), {c.number}), c.found) << c.number;
    std::string due = kashi_->FieldNamed(Sjis("返却予定日")).StringValue();
    EXPECT_EQ(due, c.found ? c.due : last_due) << c.number;
    EXPECT_NE(kashi_->FieldNamed(Sjis("返却済")).StringValue(), "True");
    last_due = due;
  }
}

TEST_F(DataSetTest, SwitchingTheFilterMovesToTheFirstRecord) {
  kashi_->Open();
  kashi_->MoveNext();
  kashi_->SetFiltered(false);
  EXPECT_EQ(kashi_->FieldAt(0).StringValue(), "1");
  EXPECT_EQ(kashi_->CountRecords(), 10);
  EXPECT_TRUE(kashi_->SeekEqual(Sjis("登録番号"), {1}));
  kashi_->SetFilter(Sjis("返却済 = NULL"));
  EXPECT_EQ(kashi_->CountRecords(), 10);  // not applied while Filtered is off
  kashi_->SetFiltered(true);
  EXPECT_EQ(Numbers(*kashi_), (std::vector<std::string>{"3"}));
  kashi_->SetFilter(Sjis("返却済 = false or 返却済 is null"));
  EXPECT_EQ(Numbers(*kashi_), (std::vector<std::string>{"2", "3", "2", "5", "1234"}));
  kashi_->SetFilter(Sjis("not (返却済 <> TRUE) and [登録番号] = 5"));
  EXPECT_EQ(Numbers(*kashi_), (std::vector<std::string>{"5", "5"}));
}

TEST_F(DataSetTest, ABadFilterRaisesAnEngineErrorAndKeepsTheOldOne) {
  kashi_->Open();
  try {
    kashi_->SetFilter(Sjis("返却済 <>"));
    ADD_FAILURE();
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(Utf8(e.Message()), "SQL 文の構文が正しくありません\r\nトークン: (文の終わり)\r\n行番号: 1, 桁: 10");
  }
  EXPECT_EQ(kashi_->Filter(), Sjis("返却済 <> True"));
  EXPECT_EQ(kashi_->CountRecords(), 5);
  kashi_->Close();
  kashi_->SetFilter(Sjis("無い項目 <> True"));
  EXPECT_THROW(kashi_->Open(), EDBEngineError);
  EXPECT_FALSE(kashi_->Active());
}

TEST_F(DataSetTest, FailedOpensLeaveTheDatasetClosed) {
  TTable& t = owner_.Create<TTable>("T");
  t.SetDatabaseName("Vadoz");
  try {
    t.Open();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(Utf8(e.Message()), "T: TableName プロパティが指定されていません");
  }
  EXPECT_FALSE(t.Active());
  t.SetTableName(Sjis("無い.DBF"));
  try {
    t.Open();
    ADD_FAILURE();
  } catch (const EDBEngineError& e) {
    EXPECT_NE(e.Message().find(Sjis("無い.DBF")), std::string::npos) << Utf8(e.Message());
  }
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(Session().DatabaseCount(), 0);
  t.SetTableName(Sjis("図書.DB"));
  EXPECT_THROW(t.Open(), EDBEngineError);
  t.SetTableName(Sjis("図書.DBF"));
  t.SetDatabaseName("NoSuchAlias");
  EXPECT_THROW(t.Open(), EDBEngineError);
  EXPECT_FALSE(t.Active());
}

TEST_F(DataSetTest, ExtensionCaseOnDiskIsIgnored) {
  DbfBuilder b;
  b.AddField("K", 'C', 4);
  b.AddRecord({"x"});
  catalogue_.Write("lower.dbf", b);
  zosho_->SetTableName("lower.DBF");
  zosho_->Open();
  EXPECT_EQ(zosho_->FieldAt(0).StringValue(), "x");
}

TEST_F(DataSetTest, TableFoundUnderItsShiftJisOrUtf8NameShiftJisFirst) {
  // Each file holds its own name in field K; the table opened tells which file was taken.
  // UTF-8 names are the test source's own bytes.
  struct Case {
    std::vector<std::string> files;  // Shift_JIS names are converted with Sjis()
    std::string taken;               // "" when none is found
  } cases[] = {
      {{Sjis("図書.DBF")}, Sjis("図書.DBF")},
      {{Sjis("図書.dbf")}, Sjis("図書.dbf")},
      {{"図書.DBF"}, "図書.DBF"},
      {{"図書.Dbf"}, "図書.Dbf"},
      {{"図書.DBF", Sjis("図書.DBF")}, Sjis("図書.DBF")},
      {{"図書.DBF", Sjis("図書.dbf")}, Sjis("図書.dbf")},
      {{"図書.dbf", "図書.DBF"}, "図書.DBF"},
      {{"図書.DBF.bak", "図書", "図.DBF", "x図書.DBF"}, ""},
  };
  for (const Case& c : cases) {
    for (const auto& entry : std::filesystem::directory_iterator(catalogue_.Dir())) {
      if (entry.path().filename() != "shelfra.conf") std::filesystem::remove(entry.path());
    }
    for (const std::string& name : c.files) {
      DbfBuilder b;
      b.AddField("K", 'C', 20);
      b.AddRecord({name});
      catalogue_.Write(name, b);
    }
    zosho_->Close();
    try {
      zosho_->Open();
      EXPECT_EQ(Utf8(zosho_->FieldAt(0).StringValue()), Utf8(c.taken)) << Utf8(c.files[0]);
    } catch (const EDBEngineError& e) {
      EXPECT_EQ(c.taken, "") << Utf8(c.files[0]);
      EXPECT_EQ(Utf8(e.Message()), "テーブルファイル " + catalogue_.Dir() + "/図書.DBF が見つかりません");
    }
  }
}

struct EventLog : TDataSetObserver {
  void DataSetEvent(TDataSet& dataset, TDataSetEvent event) override {
    events.push_back(event);
    field_counts.push_back(dataset.FieldCount());
  }
  std::vector<TDataSetEvent> events;
  std::vector<int> field_counts;
};

TEST_F(DataSetTest, ObserversLearnOfOpeningClosingAndLayout) {
  EventLog log;
  zosho_->AddObserver(&log);
  zosho_->AddObserver(&log);
  zosho_->Open();
  zosho_->Open();  // already open: nothing
  zosho_->Close();
  zosho_->RemoveObserver(&log);
  zosho_->Open();
  using E = TDataSetEvent;
  EXPECT_EQ(log.events, (std::vector<E>{E::kLayoutChanged, E::kOpened, E::kLayoutChanged, E::kClosed}));
  EXPECT_EQ(log.field_counts, (std::vector<int>{6, 6, 0, 0}));
}

TEST_F(DataSetTest, DatabasesAreSharedPerAliasAndCounted) {
  TQuery& q = owner_.Create<TQuery>("Q");
  q.SetDatabaseName("vadoz");
  q.AddSQL(Sjis("select * from 図書"));
  zosho_->Open();
  kashi_->Open();
  q.Open();
  ASSERT_EQ(Session().DatabaseCount(), 1);
  EXPECT_EQ(Session().FindDatabase("VADOZ")->UseCount(), 3);
  EXPECT_EQ(q.CountRecords(), 6);
  zosho_->Close();
  kashi_->Close();
  EXPECT_EQ(Session().DatabaseCount(), 1);
  q.Close();
  EXPECT_EQ(Session().DatabaseCount(), 0);
}

TEST_F(DataSetTest, AliasParametersStartWithThePath) {
  TStrings list{"old line"};
  Session().AliasParameters("Vadoz", list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], "PATH=" + catalogue_.Dir());
  EXPECT_EQ(list.IndexOfName("TYPE"), -1);
  // The alias is cut to 31 bytes before it is looked up.
  std::string long_alias(31, 'L');
  catalogue_.AddAlias(long_alias, catalogue_.Dir());
  Session().AliasParameters(long_alias + "IGNORED", list);
  EXPECT_EQ(list[0], "PATH=" + catalogue_.Dir());
  EXPECT_THROW(Session().AliasParameters("Unknown", list), EDBEngineError);
  EXPECT_EQ(Session().Name(), "Default");
}

}  // namespace
}  // namespace shelfra
