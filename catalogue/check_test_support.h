// A catalogue in a temporary folder for the catalogue check's tests, with one part changed at
// a time, and readers of the findings.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue_check.h"
#include "engine/engine_test_support.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace check_testing {

using testing::Sjis;

using testing::SchemaField;

inline std::vector<SchemaField> Schema(const std::string& file) {
  std::vector<SchemaField> fields = testing::WriterSchema(file);
  EXPECT_FALSE(fields.empty()) << file;
  return fields;
}

// A record: field name to value, both UTF-8; fields not named are blank.
struct Row {
  std::map<std::string, std::string> values;
  bool deleted = false;
};

// Book 7 is on loan; book 8 is deleted.
inline const std::vector<Row> kBooks = {
    {{{"登録日", "20240105"}, {"登録番号", "7"}, {"著者名", "夏目漱石"}, {"著者名ｶﾅ", "ﾅﾂﾒ ｿｳｾｷ"},
      {"書名", "こころ"}, {"書名ｶﾅ", "ｺｺﾛ"}, {"分類記号", "913.6"}, {"図書記号", "ナツ"}, {"出版者", "岩波書店"},
      {"保管場所", "開架"}, {"内容紹介", "先生と私"}, {"件名", "小説"}}},
    {{{"登録番号", "8"}, {"書名", "坊っちゃん"}}, true},
};
inline const std::vector<Row> kLoans = {
    {{{"貸出番号", "1"}, {"登録番号", "7"}, {"貸出日", "20261201"}, {"返却予定日", "20261215"}, {"返却済", "F"}}},
};

// The settings file in UTF-8 without its number section.
inline constexpr const char* kSettings =
    "[Web棚読]\nメッセージ=本町図書館へようこそ\n"
    "[分類表示]\n0=総記\n1=哲学\n2=歴史\n3=社会科学\n4=自然科学\n5=技術\n6=産業\n7=芸術\n8=言語\n9=文学\n"
    "[図書館]\n名称=本町図書館\nホームページ=https://lib.example.jp/\nアクセシビリティ方針=https://lib.example.jp/a11y\n";

// A catalogue in a temporary folder (SHELFRA_CONFIG names its configuration while it lives):
// the full tables of the catalogue writer's schemas, the settings, and a configuration naming
// the folder as Vadoz. Each part may be changed before Check().
struct Catalogue {
  testing::TempCatalogue folder;
  std::vector<SchemaField> books = Schema("books.csv");
  std::vector<SchemaField> loans = Schema("loans.csv");
  uint8_t book_language = 0x13;
  std::string book_file = "図書.DBF";  // UTF-8; the file is named in Shift_JIS unless utf8_book_name
  bool utf8_book_name = false;
  bool write_loans = true;
  std::optional<std::string> settings = std::string(kSettings);  // UTF-8; nullopt: no file
  std::string numbers = "詰め文字=True\n標準=True\n桁=6\n";         // the [番号設定] section
  bool settings_in_utf8 = false;
  // The configuration; "{dir}" stands for the folder. nullopt: no file.
  std::optional<std::string> config = std::string("[Aliases]\nVadoz={dir}\n");

  std::string Dir() const { return folder.Dir(); }
  SchemaField& Field(std::vector<SchemaField>& fields, const std::string& name) {
    for (SchemaField& f : fields) {
      if (f.name == name) return f;
    }
    ADD_FAILURE() << "no field " << name;
    return fields.front();
  }
  void Remove(std::vector<SchemaField>& fields, const std::string& name) {
    std::erase_if(fields, [&](const SchemaField& f) { return f.name == name; });
  }

  static testing::DbfBuilder Table(const std::vector<SchemaField>& fields, const std::vector<Row>& rows) {
    testing::DbfBuilder b;
    for (const SchemaField& f : fields) b.AddField(Sjis(f.name), f.type, f.length, f.decimals);
    for (const Row& row : rows) {
      std::vector<std::string> values;
      for (const SchemaField& f : fields) {
        auto it = row.values.find(f.name);
        values.push_back(it == row.values.end() ? "" : Sjis(it->second));
      }
      b.AddRecord(values, row.deleted);
    }
    return b;
  }

  void Write() {
    Table(books, kBooks).SetLanguageDriver(book_language).WriteTo(Dir() + "/" +
                                                                  (utf8_book_name ? book_file : Sjis(book_file)));
    if (write_loans) Table(loans, kLoans).SetLanguageDriver(0x13).WriteTo(Dir() + "/" + Sjis("貸出返却.DBF"));
    if (settings) {
      std::string text = *settings + "[番号設定]\n" + numbers;
      std::string crlf;
      for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      WriteFile(Dir() + "/Shelfra.ini", settings_in_utf8 ? crlf : Sjis(crlf));
    }
    const std::string config_path = Dir() + "/shelfra.conf";
    if (config) {
      std::string text = *config;
      for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, Dir());
      WriteFile(config_path, text);
    } else {
      std::remove(config_path.c_str());
    }
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<Finding> Check() {
    Write();
    return CheckCatalogue();
  }
};

inline std::string Lines(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) text += FindingLine(f) + "\n";
  return text;
}

inline std::vector<std::string> LinesOf(const std::vector<Finding>& findings, FindingKind kind) {
  std::vector<std::string> lines;
  for (const Finding& f : findings) {
    if (f.kind == kind) lines.push_back(FindingLine(f));
  }
  return lines;
}

inline bool HasLineWith(const std::vector<Finding>& findings, const std::string& piece) {
  for (const Finding& f : findings) {
    if (FindingLine(f).find(piece) != std::string::npos) return true;
  }
  return false;
}

}  // namespace check_testing
}  // namespace shelfra
