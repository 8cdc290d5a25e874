// The datasets over the search index: a statement and a seek by number answer the same with
// and without it, and nothing is written unless an index directory is configured.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "base/component.h"
#include "data/query.h"
#include "data/session.h"
#include "data/table.h"
#include "engine/engine_test_support.h"
#include "engine/index_format.h"
#include "engine/index_keeper.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;

// The session's index fields for the tests' tables, restored afterwards.
class IndexUseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Session().IndexFields();
    SearchIndexFields fields;
    for (const char* name : {"書名", "書名ｶﾅ", "件名"}) fields.texts.push_back(Sjis(name));
    fields.sort = Sjis("書名ｶﾅ");
    fields.number = Sjis("登録番号");
    Session().SetIndexFields(fields);
    SetIndexBuildsInlineForTesting(true);  // the index is there when the request ends
  }
  void TearDown() override {
    Session().SetIndexFields(saved_);
    SetIndexBuildsInlineForTesting(false);
  }

  SearchIndexFields saved_;
};

TEST_F(IndexUseTest, QueryWritesAnIndexOnlyWhenADirectoryIsConfigured) {
  testing::TempCatalogue catalogue;
  testing::DbfBuilder b;
  b.AddField(Sjis("書名"), 'C', 20).AddField(Sjis("書名ｶﾅ"), 'C', 20).AddField(Sjis("件名"), 'C', 20);
  std::mt19937 rng(3);
  const char* words[] = {"ねこ", "ﾈｺ", "ガ", "いぬ", "ｶﾞｯｺｳ", "鉄道"};
  for (int i = 0; i < 200; ++i) {
    b.AddRecord({Sjis(words[rng() % 6]), Sjis(words[rng() % 6]), Sjis(words[rng() % 6])}, rng() % 9 == 0);
  }
  catalogue.Write("books.DBF", b);
  const std::string statement =
      Sjis("select * from books where (書名 like \"%ね%\" or 件名 like \"%ガ%\") order by 書名ｶﾅ");
  auto run = [&] {
    TComponent owner(nullptr);
    TQuery& query = owner.Create<TQuery>("QueryZosho");
    query.SetDatabaseName("Vadoz");
    query.AddSQL(statement);
    query.Open();
    std::vector<std::string> rows;
    for (; !query.AtEnd(); query.MoveNext()) rows.push_back(query.FieldAt(0).StringValue());
    return rows;
  };
  auto cached = [&](const std::string& cache) {  // index files in the directory
    if (!std::filesystem::exists(cache)) return 0;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cache)) count += entry.path().extension() == ".idx";
    return count;
  };
  const std::string cache = catalogue.Dir() + "/index-cache";
  const std::vector<std::string> scanned = run();
  EXPECT_GT(scanned.size(), 10u);
  EXPECT_EQ(cached(cache), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(catalogue.Dir()), std::filesystem::directory_iterator()),
            2);  // the configuration and the table: nothing written
  {
    std::ofstream config(catalogue.Dir() + "/shelfra.conf", std::ios::app);
    config << "[Index]\nDirectory=index-cache\n";  // relative to the configuration's directory
  }
  EXPECT_EQ(run(), scanned);
  EXPECT_EQ(cached(cache), 1);
  EXPECT_EQ(run(), scanned);  // now from the index made by the run before
  EXPECT_EQ(cached(cache), 1);
}


TEST_F(IndexUseTest, SeekByNumberFindsWhatTheScanFinds) {
  // Numbers repeat, some records are deleted, some loans returned (filtered out), some numbers
  // blank: an N field with halves; an I field whose blank ones are null by the null flags (over
  // a stored 5); a B field whose blank ones are not-a-number.
  for (char kind : {'N', 'I', 'B'}) {
    testing::TempCatalogue catalogue;
    testing::DbfBuilder b;
    if (kind == 'N') b.AddField(Sjis("登録番号"), 'N', 10, 1);
    if (kind == 'I') b.SetVersion(0x30).AddField(Sjis("登録番号"), 'I', 4, 0, 0x02);
    if (kind == 'B') b.SetVersion(0x30).AddField(Sjis("登録番号"), 'B', 8);
    b.AddField(Sjis("返却済"), 'L', 1).AddField("TAG", 'C', 6);
    if (kind == 'I') b.AddField("_NullFlags", '0', 1, 0, 0x05);
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
      const bool blank = rng() % 15 == 0;
      const int whole = static_cast<int>(rng() % 40);
      const bool half = kind != 'I' && rng() % 9 == 0;
      const std::string flag = rng() % 3 == 0 ? "T" : "F";
      const std::string tag = std::string("r").append(std::to_string(i));
      const bool deleted = rng() % 8 == 0;
      std::string number;
      if (kind == 'N') number = blank ? "" : std::to_string(whole) + (half ? ".5" : "");
      if (kind == 'N') {
        b.AddRecord({number, flag, tag}, deleted);
        continue;
      }
      if (kind == 'I') number = testing::LittleEndian(blank ? 5 : static_cast<uint32_t>(whole), 4);
      if (kind == 'B') {
        number = testing::LittleEndian(std::bit_cast<uint64_t>(blank ? std::nan("") : whole + (half ? 0.5 : 0)), 8);
      }
      std::string record = (deleted ? "*" : " ") + number + flag + tag + std::string(6 - tag.size(), ' ');
      if (kind == 'I') record += blank ? '\x01' : '\0';
      b.AddRawRecord(record);
    }
    catalogue.Write("L.DBF", b);
    auto seek_all = [&] {
      TComponent owner(nullptr);
      TTable& table = owner.Create<TTable>("T1");
      table.SetDatabaseName("Vadoz");
      table.SetTableName("L.DBF");
      table.SetFilter(Sjis("返却済 <> True"));
      table.SetFiltered(true);
      table.Open();
      std::vector<std::string> found;
      for (int n = -1; n <= 41; ++n) {
        bool hit = table.SeekEqual(Sjis("登録番号"), {TSeekValue(n)});
        found.push_back(std::to_string(n) + ":" + (hit ? table.FieldNamed("TAG").StringValue() : "-"));
      }
      bool half = table.SeekEqual(Sjis("登録番号"), {TSeekValue(12.5)});
      found.push_back(half ? table.FieldNamed("TAG").StringValue() : "-");
      return found;
    };
    const std::vector<std::string> scanned = seek_all();
    EXPECT_NE(std::count_if(scanned.begin(), scanned.end(), [](const std::string& s) { return s.back() != '-'; }), 0)
        << kind;
    {
      std::ofstream config(catalogue.Dir() + "/shelfra.conf", std::ios::app);
      config << "[Index]\nDirectory=" << catalogue.Dir() << "/cache\n";
    }
    EXPECT_EQ(seek_all(), scanned) << kind;  // makes the index, then seeks through it
    EXPECT_TRUE(std::filesystem::exists(catalogue.Dir() + "/cache")) << kind;
    EXPECT_EQ(seek_all(), scanned) << kind;
  }
}

TEST_F(IndexUseTest, ListsShownFromTheIndexAreTheTablesAndADamagedRowFallsBack) {
  // Every type a list may show, as the index keeps it: texts with trailing blanks, a zero
  // byte, a lead byte cut off at the end; numbers, dates, logicals blank or not; an integer
  // whose null flag is set over a stored 5.
  testing::TempCatalogue catalogue;
  testing::DbfBuilder b;
  b.SetVersion(0x30).AddField(Sjis("書名"), 'C', 12).AddField(Sjis("書名ｶﾅ"), 'C', 6);
  b.AddField(Sjis("登録番号"), 'I', 4, 0, 0x02).AddField("PRICE", 'N', 8, 2).AddField("DAY", 'D', 8);
  b.AddField("LENT", 'L', 1).AddField("_NullFlags", '0', 1, 0, 0x05);
  const std::string titles[] = {Sjis("ねこ"), Sjis("ねこ ") + std::string(1, '\0') + "x", "ab" + Sjis("ね").substr(0, 1), ""};
  std::mt19937 rng(11);
  for (int i = 0; i < 400; ++i) {
    std::string title = titles[rng() % 4];
    title.resize(12, ' ');
    std::string reading = std::string(1, static_cast<char>('A' + rng() % 5));
    reading.resize(6, ' ');
    const bool null_number = rng() % 7 == 0;
    std::string price = rng() % 5 == 0 ? std::string(8, ' ') : "   12.50";
    std::string day = rng() % 4 == 0 ? std::string(8, ' ') : "20261209";
    std::string lent = rng() % 3 == 0 ? "?" : "T";
    b.AddRawRecord((rng() % 9 == 0 ? "*" : " ") + title + reading +
                   testing::LittleEndian(null_number ? 5 : static_cast<uint32_t>(i), 4) + price + day + lent +
                   (null_number ? '\x01' : '\0'));
  }
  catalogue.Write("books.DBF", b);
  SearchIndexFields fields = Session().IndexFields();
  for (const char* name : {"書名", "登録番号", "PRICE", "DAY", "LENT", "NOSUCH"}) fields.shown.push_back(Sjis(name));
  Session().SetIndexFields(fields);
  const std::string statement = Sjis("select * from books where 書名 like \"%ね%\" order by 書名ｶﾅ");
  auto list = [&] {
    TComponent owner(nullptr);
    TQuery& query = owner.Create<TQuery>("QueryZosho");
    query.SetDatabaseName("Vadoz");
    query.AddSQL(statement);
    query.Open();
    std::string rows;
    for (; !query.AtEnd(); query.MoveNext()) {
      for (int f = 0; f < query.FieldCount(); ++f) rows += "|" + query.FieldAt(f).DisplayText();
      rows += "\n";
    }
    return rows;
  };
  const std::string scanned = list();
  {
    std::ofstream config(catalogue.Dir() + "/shelfra.conf", std::ios::app);
    config << "[Index]\nDirectory=" << catalogue.Dir() << "/cache\n";
  }
  EXPECT_EQ(list(), scanned);  // makes the index
  EXPECT_EQ(list(), scanned);  // through it
  std::string index_path;
  for (const auto& e : std::filesystem::directory_iterator(catalogue.Dir() + "/cache")) {
    if (e.path().extension() == ".idx") index_path = e.path();
  }
  ASSERT_FALSE(index_path.empty());
  // A changed byte in the middle of the shown rows: the rows from it on come from the table,
  // the list is the same, and the index is made again.
  IndexFileHeader h;
  {
    std::fstream f(index_path, std::ios::in | std::ios::out | std::ios::binary);
    f.read(reinterpret_cast<char*>(&h), sizeof h);
    ASSERT_GT(h.row_text_size, 100u);
    f.seekp(static_cast<std::streamoff>(h.row_text_offset + h.row_text_size / 2));
    f.put('\x7f');
  }
  EXPECT_EQ(list(), scanned);
  EXPECT_FALSE(std::filesystem::exists(index_path));
}

TEST_F(IndexUseTest, ShownCharacterAndNumberTextsAreTheValuesTexts) {
  // The index's shown rows give character texts and plain whole numbers without their values
  // being read; every other text (a decimal, an exponent, a sign "+", a blank after the
  // digits, sixteen digits, a date) is composed from the value. Both are the scan's texts.
  testing::TempCatalogue catalogue;
  SetLocaleForTesting(LocaleSettings{',', '-', "yyyy/m/d"});
  testing::DbfBuilder b;
  b.AddField(Sjis("書名"), 'C', 12).AddField(Sjis("書名ｶﾅ"), 'C', 4).AddField(Sjis("登録番号"), 'N', 16);
  b.AddField("SMALL", 'N', 4).AddField("WHOLE", 'N', 6).AddField("DAY", 'D', 8);
  const std::string titles[] = {"a&b<c>\"", Sjis("表示ソ十"), "", std::string("x\0y", 3), "ab" + Sjis("ね").substr(0, 1),
                                Sjis("予"), "  lead"};
  const char* numbers[] = {"               0", "              -0", "0000000000000007", "            -012",
                           " 123456789012345", "1234567890123456", "              +5", "            1e3 ",
                           "     12         ", "                ", "               -", "            1.50"};
  const char* smalls[] = {" -07", "  -0", "9999", "    ", "-1.5"};
  const char* wholes[] = {"000012", "  -123", "    ab", "   1.5", "999999"};
  const char* days[] = {"20261209", "        ", "20260230", "00010101"};
  for (int i = 0; i < 60; ++i) {
    std::string title = titles[i % 7];
    title.resize(12, ' ');
    std::string reading = std::string(1, static_cast<char>('A' + i % 3)) + "   ";
    b.AddRawRecord(" " + title + reading + numbers[i % 12] + smalls[i % 5] + wholes[i % 5 == 0 ? 1 : i % 5] + days[i % 4]);
  }
  catalogue.Write("books.DBF", b);
  SearchIndexFields fields = Session().IndexFields();
  for (const char* name : {"書名", "書名ｶﾅ", "登録番号", "SMALL", "WHOLE", "DAY"}) fields.shown.push_back(Sjis(name));
  Session().SetIndexFields(fields);
  auto list = [&] {
    TComponent owner(nullptr);
    TQuery& query = owner.Create<TQuery>("QueryZosho");
    query.SetDatabaseName("Vadoz");
    query.AddSQL(Sjis("select * from books where 書名 like \"%\" order by 書名ｶﾅ"));
    query.Open();
    std::string rows;
    std::string text;
    for (; !query.AtEnd(); query.MoveNext()) {
      for (int f = 0; f < query.FieldCount(); ++f) {
        query.FieldAt(f).GetDisplayText(text);
        rows += "|" + text;
      }
      rows += "\n";
    }
    return rows;
  };
  const std::string scanned = list();
  EXPECT_NE(scanned.find("|a&b<c>\"|"), std::string::npos) << scanned;
  EXPECT_NE(scanned.find("|A|0|-7|-123|2026-12-9\n"), std::string::npos) << scanned;
  {
    std::ofstream config(catalogue.Dir() + "/shelfra.conf", std::ios::app);
    config << "[Index]\nDirectory=" << catalogue.Dir() << "/cache\n";
  }
  EXPECT_EQ(list(), scanned);  // makes the index
  EXPECT_EQ(list(), scanned);  // through it
}

}  // namespace
}  // namespace shelfra
