// The shared book tables of the tests.
#include "tests/support/book_tables.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sjis.h"

namespace shelfra::testing {

namespace {

// A book of the test catalogue, texts in UTF-8.
struct Book {
  std::string no, title, title_kana, author, author_kana, code;
  std::string note = "", series = "", series_kana = "", subject = "", content = "";
  bool deleted = false;
};

}  // namespace

DbfBuilder SmallBookTable() {
  const Book books[] = {
      {"1", "吾輩は猫である", "ﾜｶﾞﾊｲﾊﾈｺﾃﾞｱﾙ", "夏目漱石", "ﾅﾂﾒｿｳｾｷ", "913.6", "", "", "", "小説"},
      {"2", "こころ", "ｺｺﾛ", "夏目漱石", "ﾅﾂﾒｿｳｾｷ", "913.6"},
      {"3", "ソフトウェア入門", "ｿﾌﾄｳｪｱﾆｭｳﾓﾝ", "山田太郎", "ﾔﾏﾀﾞﾀﾛｳ", "007.6", "", "", "", "", "C++ と SQL"},
      {"4", "表計算の本", "", "", "", "10"},
      {"5", "吾輩", "ﾜｶﾞﾊｲ", "", "", "913", "", "", "", "", "", true},
      {"6", "Data Structures", "DATA STRUCTURES", "Knuth", "", "007"},
      {"7", "哲学入門", "ﾃﾂｶﾞｸﾆｭｳﾓﾝ", "", "", "100", "", "岩波文庫", "ｲﾜﾅﾐﾌﾞﾝｺ"},
      {"8", "こころ", "ｺｺﾛ", "別人", "", "19"},
      {"9", "C:\\TEMP の使い方", "ﾊｽｳ", "", "", "5"},
      {"10", "三百三十六", "ｼｰ", "", "", "336", "時刻 12:30"},
      {"11", "番号なし", "ﾊﾞﾝｺﾞｳﾅｼ", "", "", ""},
  };
  DbfBuilder b;
  for (const char* name : {"登録番号", "著者名", "著者名ｶﾅ", "書名", "書名ｶﾅ", "注記", "叢書名", "叢書名ｶﾅ", "分類記号",
                           "件名", "内容紹介"}) {
    b.AddField(Sjis(name), name == std::string("登録番号") ? 'N' : 'C', name == std::string("登録番号") ? 10 : 40);
  }
  for (const Book& k : books) {
    b.AddRecord({k.no, Sjis(k.author), Sjis(k.author_kana), Sjis(k.title), Sjis(k.title_kana), Sjis(k.note),
                 Sjis(k.series), Sjis(k.series_kana), Sjis(k.code), Sjis(k.subject), Sjis(k.content)},
                k.deleted);
  }
  return b;
}

namespace {

// Pieces of text that fold, sort and match in tricky ways (UTF-8).
const std::vector<std::string> kPieces = {
    "ねこ", "ネコ", "ﾈｺ", "ｶﾞ", "ガ", "が", "ﾊﾟﾝ", "パン", "ﾊﾝ", "麒麟", "冒険", "鉄道", "温泉", "SQL", "ｓｑｌ",
    "Sql", " ", "　", "ｰ", "ー", "%", "％", "_", "国", "國", "ｳﾞ", "ヴ", "ﾞ", "ｺｰﾋｰ", "入門", "の", "ﾉ", "A1",
};

std::string RandomText(std::mt19937& rng, int max_pieces) {
  std::uniform_int_distribution<int> count(0, max_pieces);
  std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
  std::string text;
  for (int n = count(rng); n > 0; --n) text += kPieces[piece(rng)];
  return text;
}

}  // namespace

DbfBuilder RandomBookTable(unsigned seed, int records) {
  DbfBuilder b;
  for (const char* name : {"書名", "書名ｶﾅ", "叢書名", "叢書名ｶﾅ", "注記", "著者名", "著者名ｶﾅ", "件名", "内容紹介"}) {
    b.AddField(Sjis(name), 'C', 40);
  }
  b.AddField(Sjis("登録番号"), 'N', 8).AddField(Sjis("分類記号"), 'C', 7).AddField(Sjis("出版者"), 'C', 20);
  std::mt19937 rng(seed);
  const std::vector<std::string> readings = {"", "ﾈｺ", "ねこ", "ネコ", "ｱｲ", "アオ", "ｺｰﾋｰ", "ｺｱﾗ", "SQL"};
  const std::vector<std::string> classes = {"", "1", "10", "19", "3", "913", "9", "91"};
  for (int i = 0; i < records; ++i) {
    std::vector<std::string> values;
    for (int f = 0; f < 9; ++f) values.push_back(Sjis(RandomText(rng, f == 1 ? 0 : 4)));
    values[1] = Sjis(readings[rng() % readings.size()]);  // equal readings are common
    values.push_back(std::to_string(i + 1));
    values.push_back(classes[rng() % classes.size()]);
    values.push_back(Sjis(RandomText(rng, 3)));
    for (std::string& v : values) v = v.substr(0, v.size() > 40 ? 40 : v.size());
    b.AddRecord(values, rng() % 10 == 0);
  }
  return b;
}

std::vector<SchemaField> WriterSchema(const std::string& file) {
  const char* source = std::getenv("SHELFRA_SOURCE_DIR");
  std::ifstream csv(std::string(source != nullptr ? source : ".") + "/tools/catalogue/schema/" + file);
  std::vector<SchemaField> fields;
  std::string line;
  std::getline(csv, line);  // the column names
  while (std::getline(csv, line)) {
    std::stringstream cells(line);
    std::string name, type, length, decimals;
    std::getline(cells, name, ',');
    std::getline(cells, type, ',');
    std::getline(cells, length, ',');
    std::getline(cells, decimals, ',');
    fields.push_back(SchemaField{name, type[0], std::stoi(length), std::stoi(decimals)});
  }
  return fields;
}

}  // namespace shelfra::testing
