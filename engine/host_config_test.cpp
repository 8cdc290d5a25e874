#include "engine/host_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>


namespace shelfra {
namespace {

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
  // The directory of `alias`; empty (and a failed test) when AliasDirectory fails.
  std::string Directory(std::string_view alias) {
    std::string directory;
    EngineStatus s = AliasDirectory(alias, directory);
    EXPECT_TRUE(s.Ok()) << alias;
    return directory;
  }
  // The failure of AliasDirectory for `alias`.
  EngineStatus Failure(std::string_view alias) {
    std::string directory;
    EngineStatus s = AliasDirectory(alias, directory);
    EXPECT_FALSE(s.Ok()) << alias;
    return s;
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
  EXPECT_EQ(Directory("Vadoz"), dir_ + "/catalogue");
  EXPECT_EQ(Directory("VADOZ"), dir_ + "/catalogue");
  EXPECT_EQ(Directory("rel"), dir_ + "/catalogue");
  EXPECT_EQ(Directory("Root"), "/");
}

TEST_F(HostConfigTest, AliasDirectoryFailuresNameWhatIsMissing) {
  EngineStatus s = Failure("Vadoz");
  EXPECT_EQ(s.code, kStatusConfigMissing);
  EXPECT_EQ(s.fault, EngineFault::kConfigMissing);
  EXPECT_EQ(s.subject, config_);
  Write("[Aliases]\nOther=/tmp\nEmpty=\nGone=" + dir_ + "/nowhere\nFile=" + config_ + "\n");
  struct Case {
    const char* alias;
    uint16_t code;
    EngineFault fault;
    std::string subject;
  } cases[] = {
      {"Vadoz", kStatusAliasUnknown, EngineFault::kAliasUnknown, config_},
      {"Empty", kStatusAliasUnknown, EngineFault::kAliasUnknown, config_},
      {"Gone", kStatusAliasDirectory, EngineFault::kAliasDirectoryMissing, dir_ + "/nowhere"},
      {"File", kStatusAliasDirectory, EngineFault::kAliasDirectoryUnreadable, config_},
  };
  for (const Case& c : cases) {
    s = Failure(c.alias);
    EXPECT_EQ(s.code, c.code) << c.alias;
    EXPECT_EQ(s.fault, c.fault) << c.alias;
    EXPECT_EQ(s.subject, c.subject) << c.alias;
    EXPECT_EQ(s.name, c.alias);
  }
  Write("[Other]\nVadoz=/tmp\n");
  EXPECT_EQ(Failure("Vadoz").fault, EngineFault::kAliasUnknown);
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

TEST_F(HostConfigTest, IndexDirectoryIsEmptyUnlessSetAndCountsFromTheConfiguration) {
  EXPECT_EQ(IndexDirectory(), "");
  Write("[Index]\nDirectory=/var/cache/shelfra\n");
  EXPECT_EQ(IndexDirectory(), "/var/cache/shelfra");
  Write("[Index]\nDirectory=cache\n");
  EXPECT_EQ(IndexDirectory(), dir_ + "/cache");
}

}  // namespace
}  // namespace shelfra
