// Whole-program tests with hostile input: damaged catalogues and requests of every shape. Each
// answer is a page or the 500 page, in bounded time, and the process always exits normally.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

constexpr const char* kBooks =
    "登録番号,書名,書名ｶﾅ,著者名,出版者,分類記号\n"
    "1,こころ,ｺｺﾛ,夏目漱石,PUBLISHR,913.6\n"
    "2,ABCDEFGHIJ,ABC,NONSJIS,岩波書店,913.6\n";
constexpr const char* kLoans = "登録番号,返却予定日,返却済\n1,2026-12-20,F\n";

// No request may take longer than this (the slowest, under the sanitizers, takes a second).
constexpr int kTimeLimitSeconds = 30;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Put16(std::string& bytes, size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The answer ended normally, in time, as a page ("Status: 200") or as the 500 page.
void ExpectPageOr500(const CgiResult& r, const std::string& what) {
  EXPECT_EQ(r.signal, 0) << what;
  EXPECT_EQ(r.exit_code, 0) << what << "\n" << r.errors;
  EXPECT_TRUE(StartsWith(r.output, "Status: 200 OK\r\n") || StartsWith(r.output, "Status: 500 "))
      << what << ": " << Utf8(r.output.substr(0, 200));
  EXPECT_NE(r.output.find("\r\nContent:\r\n\r\n"), std::string::npos) << what;
}

// The engine's 500 page whose message names `path`.
void ExpectEngineErrorNaming(const CgiResult& r, const std::string& path, const std::string& what) {
  EXPECT_EQ(r.signal, 0) << what;
  EXPECT_EQ(r.exit_code, 0) << what << "\n" << r.errors;
  EXPECT_TRUE(StartsWith(r.output, "Status: 500 ")) << what << ": " << Utf8(r.output.substr(0, 300));
  EXPECT_NE(r.output.find("Exception: EDBEngineError<br>"), std::string::npos) << what << ": " << Utf8(r.output);
  size_t message = r.output.find("Message: ");
  ASSERT_NE(message, std::string::npos) << what;
  EXPECT_NE(r.output.find(path, message), std::string::npos) << what << ": " << Utf8(r.output.substr(message));
}

class HostileTest : public ::testing::Test {
 protected:
  HostileTest() {
    catalogue_.WriteBooks(kBooks);
    catalogue_.WriteLoans(kLoans);
    books_path_ = catalogue_.Directory() + "/" + Sjis("図書.DBF");
    loans_path_ = catalogue_.Directory() + "/" + Sjis("貸出返却.DBF");
    books_ = ReadFile(books_path_);
  }

  CgiResult Run(std::map<std::string, std::string> env, std::string_view input = {}) {
    return RunCgi(env, input, kTimeLimitSeconds);
  }
  CgiResult Get(std::string_view path_info, std::string_view query) {
    return Run(catalogue_.Request(path_info, query));
  }

  CatalogueFixture catalogue_;
  std::string books_path_;
  std::string loans_path_;
  std::string books_;  // the book table's bytes as written
};

TEST_F(HostileTest, DamagedTablesGiveTheEngineErrorNamingTheFile) {
  const size_t fields = 41;
  const size_t descriptors_end = 32 + 32 * fields;  // where the terminator stands
  struct Case {
    const char* name;
    std::function<void(const std::string& path, std::string& bytes)> damage;
  } cases[] = {
      {"cut inside the fixed header", [](const std::string&, std::string& b) { b.resize(20); }},
      {"cut inside the descriptors", [](const std::string&, std::string& b) { b.resize(32 + 32 * 10 + 7); }},
      {"cut before the terminator", [&](const std::string&, std::string& b) { b.resize(descriptors_end); }},
      {"header length past the end",
       [](const std::string&, std::string& b) { Put16(b, 8, static_cast<unsigned>(b.size() + 1)); }},
      {"header length inside the descriptors", [](const std::string&, std::string& b) { Put16(b, 8, 32 + 32 * 5); }},
      {"no terminator", [&](const std::string&, std::string& b) { b[descriptors_end] = ' '; }},
      {"a field of length zero", [](const std::string&, std::string& b) { b[32 + 32 * 3 + 16] = 0; }},
      {"a date field of length 9", [](const std::string&, std::string& b) { b[32 + 16] = 9; }},
      {"record length shorter than the fields", [](const std::string&, std::string& b) { Put16(b, 10, 100); }},
      {"no descriptors at all", [](const std::string&, std::string& b) { b[32] = 0x0D; }},
      {"an empty file", [](const std::string&, std::string& b) { b.clear(); }},
      {"a text file", [](const std::string&, std::string& b) {
         b.clear();
         for (int i = 0; i < 200; ++i) b += "This is a text file, not a table.\n";
       }},
      {"an image", [](const std::string&, std::string& b) {
         b = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
         for (int i = 0; i < 5000; ++i) b.push_back(static_cast<char>((i * 7919) & 0xFF));
       }},
      {"a directory", [](const std::string& path, std::string& b) {
         b.clear();
         std::filesystem::remove(path);
         std::filesystem::create_directory(path);
       }},
      {"a FIFO that no one writes", [](const std::string& path, std::string& b) {
         b.clear();
         std::filesystem::remove(path);
         ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
       }},
      {"missing", [](const std::string& path, std::string& b) {
         b.clear();
         std::filesystem::remove(path);
       }},
  };
  for (const Case& c : cases) {
    std::string bytes = books_;
    std::filesystem::remove_all(books_path_);
    WriteFile(books_path_, "");
    c.damage(books_path_, bytes);
    if (std::filesystem::is_regular_file(books_path_)) WriteFile(books_path_, bytes);
    // Every page opens the tables first, the search form too.
    ExpectEngineErrorNaming(Get("", ""), books_path_, c.name);
    ExpectEngineErrorNaming(Get("/Detail", "NO=1"), books_path_, c.name);
  }
}

TEST_F(HostileTest, DamagedLendingTableIsNamedToo) {
  std::string bytes = ReadFile(loans_path_);
  WriteFile(loans_path_, bytes.substr(0, 40));
  ExpectEngineErrorNaming(Get("", ""), loans_path_, "truncated lending table");
}

TEST_F(HostileTest, EmptyCatalogueDirectoryNamesTheBookTable) {
  std::filesystem::remove(books_path_);
  std::filesystem::remove(loans_path_);
  ExpectEngineErrorNaming(Get("", "title1=x"), books_path_, "empty directory");
}

TEST_F(HostileTest, UnreadableTableNamesTheFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  ASSERT_EQ(::chmod(books_path_.c_str(), 0), 0);
  ExpectEngineErrorNaming(Get("", ""), books_path_, "unreadable");
}

TEST_F(HostileTest, SettingsFileThatIsNoFileGivesTheDefaults) {
  // A FIFO would make the read wait for a writer forever, a device would never end.
  const std::string settings = catalogue_.Directory() + "/Shelfra.ini";
  CgiResult plain = Get("", "");
  ASSERT_TRUE(StartsWith(plain.output, "Status: 200 OK\r\n"));
  ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0);
  CgiResult fifo = Get("", "");
  EXPECT_EQ(fifo.output, plain.output) << "FIFO";
  std::filesystem::remove(settings);
  std::filesystem::create_symlink("/dev/zero", settings);
  CgiResult device = Get("", "");
  EXPECT_EQ(device.output, plain.output) << "device";
}

TEST_F(HostileTest, RecordsCutShortAtTheEndMakeTheTableDamaged) {
  // The header counts two records; the file holds one and a half: the table is truncated.
  const size_t record_length = static_cast<unsigned char>(books_[10]) | static_cast<unsigned char>(books_[11]) << 8;
  WriteFile(books_path_, books_.substr(0, books_.size() - 1 - record_length / 2));
  ExpectEngineErrorNaming(Get("/list", ""), books_path_, "records cut short");
  ExpectEngineErrorNaming(Get("/Detail", "NO=2"), books_path_, "records cut short");
}

TEST_F(HostileTest, OddBytesInValuesStayInsideTheirPlace) {
  // Bytes that are no Shift_JIS in a title, and a lead byte as the last byte of a publisher:
  // the page is produced, and the stray lead byte does not swallow the byte after the value
  // (the template follows the publisher with a full-width space, 81 40).
  size_t title = books_.find("ABCDEFGHIJ");
  ASSERT_NE(title, std::string::npos);
  books_.replace(title, 10, "\xFF\xFE\x80\xA0\xFD\x7F\x01" "ABC");
  size_t publisher = books_.find("PUBLISHR");
  ASSERT_NE(publisher, std::string::npos);
  books_[publisher + 8] = '\x82';  // the first padding blank after the value
  WriteFile(books_path_, books_);

  CgiResult list = Get("", "title1=ABC");
  ExpectPageOr500(list, "search");
  EXPECT_TRUE(StartsWith(list.output, "Status: 200 OK\r\n"));
  EXPECT_NE(list.output.find("\xFF\xFE\x80\xA0\xFD\x7F\x01" "ABC"), std::string::npos);

  CgiResult detail = Get("/Detail", "NO=1");
  ExpectPageOr500(detail, "detail");
  EXPECT_NE(detail.output.find("PUBLISHR\x81\x40"), std::string::npos) << Utf8(detail.output);
}

TEST_F(HostileTest, TableOf255FieldsIsRead) {
  std::string schema = "name,type,length,decimals\n";
  std::string schema_books = ReadFile(SourceDir() + "/tools/catalogue/schema/books.csv");
  schema += schema_books.substr(schema_books.find('\n') + 1);
  for (int i = 41; i < 255; ++i) schema.append("X").append(std::to_string(i)).append(",C,1,0\n");
  catalogue_.WriteBooksWithSchema(schema, kBooks);
  ASSERT_EQ(static_cast<unsigned char>(ReadFile(books_path_)[9]), (32 + 32 * 255 + 1) >> 8);
  CgiResult r = Get("", "title1=" + std::string("%82%B1%82%B1%82%EB"));  // "kokoro"
  ExpectPageOr500(r, "search");
  EXPECT_NE(r.output.find(Sjis("こころ")), std::string::npos);
}

TEST_F(HostileTest, LeadByteBeforeAQuoteIsACharacterOfItsOwn) {
  // 0x22 can be no second byte of a double-byte character: the lead byte stands alone and
  // the quote stays a quote (written doubled inside the constant), so the page is a result
  // list, not the engine's syntax error.
  for (const char* query : {"title1=%82%22", "Author=%82%22", "keyword1=%82%22", "bunrui=%82%22",
                            "title1=%E0%22%3Ax", "keyword3=%82"}) {
    CgiResult r = Get("", query);
    EXPECT_TRUE(StartsWith(r.output, "Status: 200 OK\r\n")) << query << ": " << Utf8(r.output.substr(0, 300));
    EXPECT_NE(r.output.find(Sjis("該当する資料は")), std::string::npos) << query;
  }
}

TEST_F(HostileTest, RequestsOfEveryShapeGetAPageOrThe500Page) {
  // Environment strings are limited to 128 KiB by the kernel, so that is the most a web
  // server can hand over; the request object itself is tested with 1 MB elsewhere.
  const std::string big(120 * 1024, 'a');
  std::string every_byte;
  for (int b = 0; b < 256; ++b) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", b);
    every_byte += hex;
  }
  std::string raw_bytes;  // every byte but the zero, unescaped
  for (int b = 1; b < 256; ++b) raw_bytes.push_back(static_cast<char>(b));
  std::string many_fields;
  for (int i = 0; i < 30000; ++i) many_fields += "a=&";

  struct Case {
    std::string name, method, path, query;
  } cases[] = {
      {"long title", "GET", "", "title1=" + big},
      {"long keyword of kanji", "GET", "", "keyword1=" + [] {
         std::string s;
         for (int i = 0; i < 12000; ++i) s += "%94%4C";
         return s;
       }()},
      {"long path", "GET", "/" + big, ""},
      {"long method", big, "", ""},
      {"many fields", "GET", "", many_fields + "title1=x"},
      {"every byte in a name and a value", "GET", "", every_byte + "=" + every_byte + "&title1=" + every_byte},
      {"every byte as a search word", "GET", "", "title1=" + every_byte + "&Author=" + every_byte},
      {"every raw byte in the query", "GET", "", raw_bytes},
      {"every raw byte in the path", "GET", raw_bytes, "NO=1"},
      {"every raw byte in the method", raw_bytes, "", ""},
      {"class selector out of range", "GET", "", "bunrui=%22%29%20OR%201%3D1%20--"},
      {"statement-like search word", "GET", "", "title1=%22%20OR%20%22%22%3D%22&keyword1=%3Ap%20%3A%3A"},
      {"percent at the end", "GET", "", "title1=abc%"},
      {"malformed escape", "GET", "", "title1=%G0"},
      {"quote without its end", "GET", "", "%22title1=abc&Author=x"},
      {"detail without a number", "GET", "/Detail", ""},
      {"detail with an odd number", "GET", "/Detail", "NO=99999999999999999999"},
      {"detail with a hexadecimal number", "GET", "/Detail", "NO=$7FFFFFFF"},
      {"detail with a negative number", "GET", "/Detail", "NO=-2147483648"},
      {"detail of another case", "HEAD", "/detail", "No=1"},
      {"list with a search", "POST", "/list", "title1=x"},
      {"path of dots", "GET", "/../../etc/passwd", ""},
      {"path with slashes", "PUT", "//Detail//", "NO=1"},
      {"empty method", "", "/Detail", "NO=1"},
      {"lower case method", "get", "/list", ""},
  };
  for (const Case& c : cases) {
    auto env = catalogue_.Request(c.path, c.query, c.method);
    CgiResult r = Run(env);
    ExpectPageOr500(r, c.name);
  }
  struct rusage usage;
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 512 * 1024) << "KiB of the largest process so far";
  EXPECT_TRUE(ReadFile(books_path_) == books_) << "the program changed the book table";
}

TEST_F(HostileTest, ContentLengthsThatDoNotMatchTheContent) {
  struct Case {
    const char* length;
    std::string content;
  } cases[] = {
      {"2147483647", "title1=abc"},           // far more than arrives
      {"4294967296", "title1=abc"},           // beyond 32 bits
      {"99999999999999999999", "x"},
      {"-5", "abc"},
      {"0x7FFFFFFF", "abc"},
      {"abc", "abc"},
      {"1048576", std::string(1 << 20, 'z')},  // 1 MB of content
      {"2000000", std::string(2000000, 'y')},  // more than is read in one go
  };
  for (const Case& c : cases) {
    auto env = catalogue_.Request("", "", "POST");
    env["CONTENT_LENGTH"] = c.length;
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    CgiResult r = Run(env, c.content);
    ExpectPageOr500(r, c.length);
    EXPECT_TRUE(StartsWith(r.output, "Status: 200 OK\r\n")) << c.length;
  }
}

TEST_F(HostileTest, CatalogueRenamedIntoPlaceIsReadByTheNextRequest) {
  // The safe way to publish a new catalogue: write it beside the old one, then rename it over
  // the old file. A request that runs meanwhile keeps reading the old file whole.
  CatalogueFixture fresh;
  fresh.WriteBooks("登録番号,書名,書名ｶﾅ\n9,新しい本,ｱﾀﾗｼｲ ﾎﾝ\n");
  std::string staged = catalogue_.Directory() + "/.books.new";
  std::filesystem::copy_file(fresh.Directory() + "/" + Sjis("図書.DBF"), staged);
  ASSERT_EQ(std::rename(staged.c_str(), books_path_.c_str()), 0);
  CgiResult r = Get("", "title1=%90V");  // the first byte of "atarashii" is 90 56
  ExpectPageOr500(r, "after the rename");
  EXPECT_NE(r.output.find(Sjis("新しい本")), std::string::npos);
}

}  // namespace
}  // namespace shelfra::testing
