#include "base/profile.h"

#include <gtest/gtest.h>
#include <fcntl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "profile_test_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Write(const std::string& bytes) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  std::string path_;
};

TEST_F(ProfileTest, LooksUpValuesByTheReadingRules) {
  struct Case {
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::string expected;  // "<default>" when the default must come back
  } cases[] = {
      {"plain", "[A]\nk=v\n", "A", "k", "v"},
      {"crlf", "[A]\r\nk=v\r\nz=w\r\n", "A", "k", "v"},
      {"no final line end", "[A]\nk=v", "A", "k", "v"},
      {"section case", "[Aliases]\nk=v\n", "aLIASES", "k", "v"},
      {"key case", "[A]\nVadoz=/x\n", "A", "VADOZ", "/x"},
      {"blanks around names and value", " [ A ] \n\t k \t= \t v w \t\n", "A", "k", "v w"},
      {"blanks in the asked names", "[A]\nk=v\n", " A ", "\tk ", "v"},
      {"double quotes", "[A]\nk=\" v \"\n", "A", "k", " v "},
      {"single quotes", "[A]\nk=' v '\n", "A", "k", " v "},
      {"unmatched quotes kept", "[A]\nk=\"v'\n", "A", "k", "\"v'"},
      {"one quote kept", "[A]\nk=\"\n", "A", "k", "\""},
      {"inner quotes kept", "[A]\nk=a\"b\"\n", "A", "k", "a\"b\""},
      {"empty value is no default", "[A]\nk=\n", "A", "k", ""},
      {"value holds =", "[A]\nk=a=b\n", "A", "k", "a=b"},
      {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
      {"first section decides", "[A]\nx=1\n[A]\nk=2\n", "A", "k", "<default>"},
      {"key of another section", "[A]\nk=1\n[B]\nj=2\n", "B", "k", "<default>"},
      {"key before any section", "k=1\n[A]\nj=2\n", "A", "k", "<default>"},
      {"missing section", "[A]\nk=1\n", "B", "k", "<default>"},
      {"missing key", "[A]\nk=1\n", "A", "j", "<default>"},
      {"comment line", "[A]\n;k=1\n  ; k=2\nk=3\n", "A", "k", "3"},
      {"line without =", "[A]\nk\nk=4\n", "A", "k", "4"},
      {"text after ]", "[A] trailing\nk=5\n", "A", "k", "5"},
      {"broken header keeps the section", "[A]\n[B\nk=6\n", "A", "k", "6"},
      {"empty file", "", "A", "k", "<default>"},
      {"lone CR is no line end", "[A]\nk=1\rj=2\n", "A", "j", "<default>"},
  };
  for (const Case& c : cases) {
    Write(c.file);
    std::string expected = c.expected == "<default>" ? "DEF" : c.expected;
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "DEF", path_), expected) << c.name;
  }
}

TEST_F(ProfileTest, JapaneseNamesMatchByteExactlyExceptAsciiCase) {
  // The trail byte of a double-byte character may be an ASCII letter ("I" in one kanji)
  // or "]"; neither may be folded or taken as the end of the header.
  std::string file = Sjis("[Web棚読]\nメッセージ=ようこそ\n[番号設定]\n詰め文字=True\n標準=False\n桁=8\n");
  file += "[\x83\x5D]\nk=bracket\n";   // a katakana whose trail byte is "]"
  file += "[\x92\x69]\nk=lower\n";     // the kanji in "Web..." with its trail byte in lower case
  Write(file);
  EXPECT_EQ(GetPrivateProfileString(Sjis("web棚読"), Sjis("メッセージ"), "", path_), Sjis("ようこそ"));
  EXPECT_EQ(GetPrivateProfileString(Sjis("番号設定"), Sjis("桁"), "6", path_), "8");
  EXPECT_EQ(GetPrivateProfileString("\x83\x5D", "k", "none", path_), "bracket");
  EXPECT_EQ(GetPrivateProfileString("\x92\x69", "k", "none", path_), "lower");
  // "\x92\x49" alone (the trail byte in upper case) names no section.
  EXPECT_EQ(GetPrivateProfileString("\x92\x49", "k", "none", path_), "none");
  EXPECT_FALSE(SameTextSjis(Sjis("棚"), "\x92\x69"));
  EXPECT_TRUE(SameTextSjis(Sjis("ａ棚b"), Sjis("ａ棚B")));
}

TEST_F(ProfileTest, ValuesAreCutTo2047BytesAfterTheQuotesGo) {
  std::string long_value(3000, 'x');
  Write("[A]\nk=" + long_value + "\nq=\"" + std::string(2047, 'y') + "\"\n");
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", path_), std::string(2047, 'x'));
  EXPECT_EQ(GetPrivateProfileString("A", "q", "", path_), std::string(2047, 'y'));
}

TEST_F(ProfileTest, MissingFileGivesTheDefaultAndEditsShowAtOnce) {
  EXPECT_EQ(GetPrivateProfileString("A", "k", "DEF", path_), "DEF");
  EXPECT_FALSE(FindPrivateProfileString("A", "k", path_).has_value());
  EXPECT_EQ(GetPrivateProfileString("A", "k", "DEF", ::testing::TempDir()), "DEF");  // a directory
  Write("[A]\nk=1\n");
  EXPECT_EQ(GetPrivateProfileString("A", "k", "DEF", path_), "1");
  Write("[A]\nk=2\n");
  EXPECT_EQ(GetPrivateProfileString("A", "k", "DEF", path_), "2");
  // Another file of the same size and times renamed over it is another file.
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  const std::string other = path_ + ".new";
  std::FILE* f = std::fopen(other.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("[A]\nk=3\n", f);
  std::fclose(f);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
  ASSERT_EQ(std::rename(other.c_str(), path_.c_str()), 0);
  EXPECT_EQ(GetPrivateProfileString("A", "k", "DEF", path_), "3");
}

TEST_F(ProfileTest, FilesThatAreNoRegularFileGiveTheDefaultWithoutWaiting) {
  // A FIFO would block the open (no writer ever comes) and a device never ends: neither may
  // hang a request or fill its memory. Each is read as a missing file.
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(GetPrivateProfileString("S", "K", "dflt", path_), "dflt") << "fifo";
  std::remove(path_.c_str());
  ASSERT_EQ(::symlink("/dev/zero", path_.c_str()), 0);
  EXPECT_EQ(GetPrivateProfileString("S", "K", "dflt", path_), "dflt") << "device";
  std::remove(path_.c_str());
  ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);
  EXPECT_EQ(GetPrivateProfileString("S", "K", "dflt", path_), "dflt") << "directory";
  ::rmdir(path_.c_str());
}

}  // namespace
}  // namespace shelfra
