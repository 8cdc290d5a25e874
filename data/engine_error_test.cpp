// The one place where engine statuses become EDBEngineError: every fault's message, and the
// errors that reach a dataset when its table changes under it.
#include "data/engine_error.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "base/hooks.h"
#include "data/table.h"
#include "engine/engine_test_support.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;
using testing::Utf8;

TEST(EngineErrorTest, EveryFaultHasItsMessage) {
  auto status = [](uint16_t code, EngineFault fault, std::string subject, std::string name = {}, int64_t first = 0,
                   int64_t second = 0) {
    EngineStatus s = EngineStatus::About(code, fault, std::move(subject), 2);
    s.name = std::move(name);
    s.first = first;
    s.second = second;
    return s;
  };
  using F = EngineFault;
  struct Case {
    EngineStatus status;
    std::string message;  // UTF-8
    size_t entries;
  } cases[] = {
      {status(kStatusTableNotFound, F::kTableNotFound, "/c/T.DBF"), "テーブルファイル /c/T.DBF が見つかりません", 1},
      {status(kStatusTableUnreadable, F::kTableUnreadable, "/c/T.DBF"), "テーブルファイル /c/T.DBF を読み込めません", 1},
      {status(kStatusTableCorrupt, F::kTableTruncated, "/c/T.DBF", "", 31),
       "テーブルファイル /c/T.DBF はヘッダーの途中で切れています (31 バイト)", 1},
      {status(kStatusTableCorrupt, F::kTableNoTerminator, "/c/T.DBF", "", 97),
       "テーブルファイル /c/T.DBF のヘッダー長 97 の範囲にフィールド定義の終端 (0x0D) がありません", 1},
      {status(kStatusTableCorrupt, F::kTableNoFields, "/c/T.DBF"), "テーブルファイル /c/T.DBF には項目がありません", 1},
      {status(kStatusTableCorrupt, F::kTableBadFieldLength, "/c/T.DBF", "D", 6),
       "テーブルファイル /c/T.DBF の項目 'D' の長さ 6 は正しくありません", 1},
      {status(kStatusTableCorrupt, F::kTableFieldPastRecord, "/c/T.DBF", "B", 8),
       "テーブルファイル /c/T.DBF の項目 'B' がレコード長 8 を超えています", 1},
      {status(kStatusTableCorrupt, F::kTableRecordsMissing, "/c/T.DBF", "", 9, 3),
       "テーブルファイル /c/T.DBF はレコードの途中で切れています (ヘッダーの件数 9, ファイルにある件数 3)", 1},
      {status(kStatusTableChanged, F::kTableChanged, "/c/T.DBF"), "テーブルファイル /c/T.DBF は読み込み中に変更されました", 1},
      {status(kStatusConfigMissing, F::kConfigMissing, "/c/shelfra.conf"),
       "ホスト設定ファイル /c/shelfra.conf が見つからないか読み取れません", 1},
      {status(kStatusAliasUnknown, F::kAliasUnknown, "/c/shelfra.conf", "Vadoz"),
       "別名 'Vadoz' は設定されていません (ホスト設定ファイル /c/shelfra.conf)", 1},
      {status(kStatusAliasDirectory, F::kAliasDirectoryMissing, "/c/nowhere", "Gone"),
       "別名 'Gone' のディレクトリ /c/nowhere が見つかりません", 1},
      {status(kStatusAliasDirectory, F::kAliasDirectoryUnreadable, "/c/file", "File"),
       "別名 'File' のディレクトリ /c/file はディレクトリでないか読み取れません", 1},
      {status(kStatusUnsupportedTableType, F::kTableType, "T.TXT"),
       "テーブルの種類がサポートされていません\r\nテーブル: T.TXT", 1},
      {status(kStatusSyntaxError, F::kStatement, "form", "", 1, 10),
       "SQL 文の構文が正しくありません\r\nトークン: form\r\n行番号: 1, 桁: 10", 2},
      {status(0x2999, F::kNone, ""), "データベースエンジンエラー $2999", 0},
  };
  for (const Case& c : cases) {
    try {
      CheckEngine(c.status);
      ADD_FAILURE() << "no exception: " << c.message;
    } catch (const EDBEngineError& e) {
      EXPECT_EQ(Utf8(e.Message()), c.message);
      EXPECT_EQ(e.ErrorCode(), c.status.code) << c.message;
      EXPECT_EQ(e.Errors().size(), c.entries) << c.message;
    }
  }
  EngineStatus at_end = status(kStatusSyntaxError, F::kStatement, "", "", 2, 1);
  at_end.at_end = true;
  try {
    CheckEngine(at_end);
    ADD_FAILURE() << "no exception at the end of the text";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(Utf8(e.Message()), "SQL 文の構文が正しくありません\r\nトークン: (文の終わり)\r\n行番号: 2, 桁: 1");
  }
  CheckEngine(EngineStatus{});  // Ok raises nothing
}

// A table of `records` records of 100 bytes each: several pages of the file.
testing::DbfBuilder PagedTable(int records) {
  testing::DbfBuilder b;
  b.AddField("NO", 'N', 8).AddField("TITLE", 'C', 91);
  for (int i = 0; i < records; ++i) b.AddRecord({std::to_string(i + 1), "title " + std::to_string(i + 1)});
  return b;
}

void ExpectChangedError(const std::function<void()>& read, const std::string& path, const char* what) {
  try {
    read();
    ADD_FAILURE() << "no exception: " << what;
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), kStatusTableChanged) << what;
    EXPECT_EQ(e.Message(), Sjis("テーブルファイル " + path + " は読み込み中に変更されました")) << what;
  }
}

TEST(EngineErrorTest, DatasetOverAShrunkTableRaisesTheEngineError) {
  testing::TempCatalogue catalogue;
  catalogue.Write("T.DBF", PagedTable(400));
  TTable table(nullptr);
  table.SetName("T1");
  table.SetDatabaseName("Vadoz");
  table.SetTableName("T.DBF");
  table.Open();
  EXPECT_EQ(table.FieldAt(1).StringValue(), "title 1");
  ASSERT_EQ(::truncate((catalogue.Dir() + "/T.DBF").c_str(), 0), 0);
  std::string path = catalogue.Dir() + "/T.DBF";
  ExpectChangedError([&] { table.CountRecords(); }, path, "CountRecords");
  ExpectChangedError([&] { table.FieldAt(1).StringValue(); }, path, "StringValue");
  ExpectChangedError([&] { RunBeforeSendHooks(); }, path, "before send");
  table.Close();
  RunBeforeSendHooks();  // a closed table is no longer checked
}

}  // namespace
}  // namespace shelfra
