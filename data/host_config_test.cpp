#include "data/host_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/db_errors.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;

// Points SHELFRA_CONFIG at a file of the test's own and restores the variable afterwards.
class HostConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("SHELFRA_CONFIG");
    if (old != nullptr) saved_ = old;
    dir_ = ::testing::TempDir() + "host_config_test_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::mkdir(dir_.c_str(), 0755);
    ::mkdir((dir_ + "/catalogue").c_str(), 0755);
    config_ = dir_ + "/shelfra.conf";
    ::setenv("SHELFRA_CONFIG", config_.c_str(), 1);
    ResetLocaleForTesting();
  }
  void TearDown() override {
    std::remove(config_.c_str());
    ::rmdir((dir_ + "/catalogue").c_str());
    ::rmdir(dir_.c_str());
    if (saved_) {
      ::setenv("SHELFRA_CONFIG", saved_->c_str(), 1);
    } else {
      ::unsetenv("SHELFRA_CONFIG");
    }
    ResetLocaleForTesting();
  }
  void Write(const std::string& bytes) {
    std::FILE* f = std::fopen(config_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // The message of the EDBEngineError that AliasDirectory raises, as UTF-8.
  std::string AliasError(std::string_view alias, uint16_t expected_code) {
    try {
      AliasDirectory(alias);
    } catch (const EDBEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), expected_code);
      return testing::Utf8(e.Message());
    }
    ADD_FAILURE() << "no exception for alias " << alias;
    return "";
  }

  std::optional<std::string> saved_;
  std::string dir_;
  std::string config_;
};

TEST_F(HostConfigTest, PathComesFromTheEnvironmentElseBesideTheExecutable) {
  EXPECT_EQ(HostConfigPath(), config_);
  ::setenv("SHELFRA_CONFIG", "", 1);
  std::string path = HostConfigPath();
  EXPECT_EQ(path.substr(path.rfind('/')), "/shelfra.conf");
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string exe_path(exe, static_cast<size_t>(n));
  EXPECT_EQ(path, exe_path.substr(0, exe_path.rfind('/')) + "/shelfra.conf");
}

TEST_F(HostConfigTest, AliasDirectoryResolvesConfiguredAliases) {
  Write("[Aliases]\r\nVadoz=" + dir_ + "/catalogue/\r\nRel = catalogue\r\nRoot=/\r\n");
  EXPECT_EQ(AliasDirectory("Vadoz"), dir_ + "/catalogue");
  EXPECT_EQ(AliasDirectory("VADOZ"), dir_ + "/catalogue");
  EXPECT_EQ(AliasDirectory("rel"), dir_ + "/catalogue");
  EXPECT_EQ(AliasDirectory("Root"), "/");
}

TEST_F(HostConfigTest, AliasDirectoryFailuresNameWhatIsMissing) {
  EXPECT_EQ(AliasError("Vadoz", kHostErrorConfigMissing),
            "ホスト設定ファイル " + config_ + " が見つからないか読み取れません");
  Write("[Aliases]\nOther=/tmp\nEmpty=\nGone=" + dir_ + "/nowhere\nFile=" + config_ + "\n");
  EXPECT_EQ(AliasError("Vadoz", kHostErrorAliasUnknown),
            "別名 'Vadoz' は設定されていません (ホスト設定ファイル " + config_ + ")");
  EXPECT_EQ(AliasError("Empty", kHostErrorAliasUnknown),
            "別名 'Empty' は設定されていません (ホスト設定ファイル " + config_ + ")");
  EXPECT_EQ(AliasError("Gone", kHostErrorDirectory),
            "別名 'Gone' のディレクトリ " + dir_ + "/nowhere が見つかりません");
  EXPECT_EQ(AliasError("File", kHostErrorDirectory),
            "別名 'File' のディレクトリ " + config_ + " はディレクトリでないか読み取れません");
  Write("[Other]\nVadoz=/tmp\n");
  EXPECT_EQ(AliasError("Vadoz", kHostErrorAliasUnknown),
            "別名 'Vadoz' は設定されていません (ホスト設定ファイル " + config_ + ")");
}

TEST_F(HostConfigTest, LocaleIsReadOnceWithDefaults) {
  struct Case {
    std::string file;
    char decimal;
    char date;
    std::string pattern;
  } cases[] = {
      {"", '.', '/', "m/d/yy"},
      {"[Locale]\nDecimalSeparator=,\nDateSeparator=-\nShortDateFormat=yyyy/MM/dd\n", ',', '-', "yyyy/MM/dd"},
      {"[locale]\ndecimalseparator=\",\"\n", ',', '/', "m/d/yy"},
      {"[Locale]\nDecimalSeparator=\nDateSeparator=ab\nShortDateFormat=\n", '.', '/', "m/d/yy"},
  };
  for (const Case& c : cases) {
    ResetLocaleForTesting();
    Write(c.file);
    const LocaleSettings& s = Locale();
    EXPECT_EQ(s.decimal_separator, c.decimal) << c.file;
    EXPECT_EQ(s.date_separator, c.date) << c.file;
    EXPECT_EQ(s.short_date_format, c.pattern) << c.file;
  }
  Write("[Locale]\nDecimalSeparator=;\n");
  EXPECT_EQ(Locale().decimal_separator, '.');  // read once: the edit is not seen
  SetLocaleForTesting(LocaleSettings{',', '.', "dd.mm.yyyy"});
  EXPECT_EQ(Locale().short_date_format, "dd.mm.yyyy");
}

TEST_F(HostConfigTest, IndexDirectoryIsEmptyUnlessSet) {
  EXPECT_EQ(IndexDirectory(), "");
  Write("[Index]\nDirectory=/var/cache/shelfra\n");
  EXPECT_EQ(IndexDirectory(), "/var/cache/shelfra");
}

}  // namespace
}  // namespace shelfra
