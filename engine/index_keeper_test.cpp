// The index's life: one build at a time, failures remembered with a back-off, leftovers of
// dead builds removed, every event logged once.
#include "engine/index_keeper.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/scoped_fd.h"
#include "engine/engine_test_support.h"
#include "tests/support/book_tables.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

std::vector<std::string> g_lines;
void Collect(std::string_view line) { g_lines.emplace_back(line); }

size_t Count(const std::string& piece) {
  size_t n = 0;
  for (const std::string& line : g_lines) n += line.find(piece) != std::string::npos;
  return n;
}

class IndexKeeperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cache_ = dir_ + "/cache";
    table_ = dir_ + "/books.dbf";
    testing::RandomBookTable(1).WriteTo(table_);
    file_ = testing::OpenTable(table_);
    fields_.texts = {testing::Sjis("書名"), testing::Sjis("書名ｶﾅ")};
    fields_.sort = testing::Sjis("書名ｶﾅ");
    index_ = SearchIndex::PathFor(*file_, cache_);
    g_lines.clear();
    SetIndexLog(Collect);
    SetIndexBuildsInlineForTesting(true);
  }
  void TearDown() override {
    SetIndexBuildsInlineForTesting(false);
    SetIndexLog(nullptr);
    if (saved_tmpdir_) {
      ::setenv("TMPDIR", saved_tmpdir_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  // The notes of refusals go to this test's folder.
  void KeepRefusalNotesHere() { ::setenv("TMPDIR", dir_.c_str(), 1); }
  std::unique_ptr<SearchIndex> Request() { return IndexForRequest(*file_, fields_, cache_); }

  const std::optional<std::string> saved_tmpdir_ =
      std::getenv("TMPDIR") != nullptr ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;

  testing::ScratchDir scratch_{"index_keeper"};
  const std::string dir_ = scratch_.Path();
  std::string cache_, table_, index_;
  std::unique_ptr<DbfFile> file_;
  SearchIndexFields fields_;
};

TEST_F(IndexKeeperTest, BuildsOnceThenServesAndLogsEachEventOnce) {
  EXPECT_NE(Request(), nullptr);  // built by this (inline) request
  EXPECT_NE(Request(), nullptr);  // served
  EXPECT_EQ(Count("is missing; building it"), 1u);
  EXPECT_EQ(Count("built index " + index_), 1u);
  EXPECT_EQ(g_lines.size(), 2u);
}

TEST_F(IndexKeeperTest, ARunningBuildIsNotJoinedNorRepeated) {
  std::filesystem::create_directories(cache_);
  const std::string lock_path = index_.substr(0, index_.size() - 4) + ".lock";
  ScopedFd held(::open(lock_path.c_str(), O_RDWR | O_CREAT, 0644));
  ASSERT_EQ(::flock(held.Get(), LOCK_EX | LOCK_NB), 0);  // another process builds
  EXPECT_EQ(Request(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(index_));
  EXPECT_TRUE(g_lines.empty());
  held.Reset();
  EXPECT_NE(Request(), nullptr);
}

TEST_F(IndexKeeperTest, AFailedBuildWaitsForAChangeOfTheTable) {
  std::filesystem::create_directories(index_);  // a directory at the index's name: the rename fails
  EXPECT_EQ(Request(), nullptr);
  EXPECT_EQ(Count("could not build"), 1u);
  EXPECT_EQ(Count("cannot rename the index into place"), 1u);
  EXPECT_EQ(Request(), nullptr);  // not tried again, not logged again
  EXPECT_EQ(Count("building it"), 1u);
  EXPECT_EQ(g_lines.size(), 2u);
  // Nothing half-done is left: only the directory in the way and the lock file.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(cache_)) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
  // A new catalogue (another file) is tried at once.
  std::filesystem::remove(index_);
  testing::RandomBookTable(2).WriteTo(table_ + ".new");
  std::filesystem::rename(table_ + ".new", table_);
  file_ = testing::OpenTable(table_);
  EXPECT_NE(Request(), nullptr);
}

TEST_F(IndexKeeperTest, ADeadBuildIsReportedOnceAndItsLeftoversRemoved) {
  ASSERT_NE(Request(), nullptr);
  // A build that was killed: its state says running, its temporary file is still there.
  const std::string lock_path = index_.substr(0, index_.size() - 4) + ".lock";
  std::string state;
  {
    std::ifstream in(lock_path, std::ios::binary);
    state.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t ok = state.find("\nok\n");
  ASSERT_NE(ok, std::string::npos);
  state.replace(ok, 4, "\nrunning\n");
  state.resize(1024, '\n');
  std::ofstream(lock_path, std::ios::binary | std::ios::trunc) << state;
  const std::string leftover = index_ + ".tmp.99999.0";
  std::ofstream(leftover) << "half an index";
  std::filesystem::remove(index_);
  g_lines.clear();
  EXPECT_EQ(Request(), nullptr);  // within the back-off after a failure of this very table
  EXPECT_EQ(Count("ended before it finished"), 1u);
  EXPECT_EQ(Request(), nullptr);
  EXPECT_EQ(Count("ended before it finished"), 1u);
  // The operator's command builds at once and clears what the dead build left.
  std::string report;
  EXPECT_TRUE(BuildIndexNow(*file_, fields_, cache_, 0, report).Ok()) << report;
  EXPECT_NE(report.find("removed " + leftover), std::string::npos) << report;
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What someone who may write the index folder plants at a name the program uses: a symbolic
// link to a file only the program's user may write, a second link to such a file, or a file of
// another user (root can make one).
enum class Plant { kSymlink, kHardLink, kOtherOwner };

TEST_F(IndexKeeperTest, PlantedFilesAreLeftAloneAndNothingOfThemIsLogged) {
  KeepRefusalNotesHere();
  const std::string victim = dir_ + "/victim", secret = "victim's first line\n";
  const char* names[] = {".lock", ".report", ".idx", ".idx.tmp."};
  int n = 0;
  for (const char* suffix : names) {
    for (Plant plant : {Plant::kSymlink, Plant::kHardLink, Plant::kOtherOwner}) {
      if (plant == Plant::kOtherOwner && ::geteuid() != 0) continue;  // only root can give a file away
      const std::string what = std::string(suffix) + " #" + std::to_string(static_cast<int>(plant));
      cache_ = dir_ + "/cache" + std::to_string(n++);
      ASSERT_EQ(::mkdir(cache_.c_str(), 0700), 0);
      index_ = SearchIndex::PathFor(*file_, cache_);
      const std::string base = index_.substr(0, index_.size() - 4);
      const std::string at = std::string(suffix) == ".idx.tmp." ? index_ + ".tmp." + std::to_string(::getpid()) + ".0"
                                                                 : base + suffix;
      std::filesystem::remove(victim);
      std::ofstream(victim) << secret;
      ::chmod(victim.c_str(), 0600);
      if (plant == Plant::kSymlink) {
        ASSERT_EQ(::symlink(victim.c_str(), at.c_str()), 0);
      }
      if (plant == Plant::kHardLink) {
        ASSERT_EQ(::link(victim.c_str(), at.c_str()), 0);
      }
      if (plant == Plant::kOtherOwner) {
        std::ofstream(at) << secret;
        ASSERT_EQ(::chown(at.c_str(), 65534, 65534), 0);
      }
      struct stat planted;
      ASSERT_EQ(::lstat(at.c_str(), &planted), 0);
      g_lines.clear();
      if (std::string(suffix) == ".report") {
        // The build in a process of its own writes the report; the requests after it read it.
        SetIndexBuildsInlineForTesting(false);
        EXPECT_EQ(Request(), nullptr) << what;
        for (int i = 0; i < 200 && !std::filesystem::exists(index_); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        SetIndexBuildsInlineForTesting(true);
        EXPECT_NE(Request(), nullptr) << what;
        EXPECT_EQ(Count("left alone"), 1u) << what;
      } else {
        (void)Request();
        if (std::string(suffix) != ".idx.tmp.") {
          EXPECT_EQ(Count("left alone"), 1u) << what;
        }
      }
      (void)Request();
      EXPECT_LE(Count("left alone"), 1u) << what;  // not said again by every request
      EXPECT_EQ(Contents(victim), secret) << what;
      struct stat now;
      EXPECT_EQ(::lstat(at.c_str(), &now), 0) << what;
      EXPECT_EQ(now.st_ino, planted.st_ino) << what;
      for (const std::string& line : g_lines) EXPECT_EQ(line.find("first line"), std::string::npos) << line;
    }
  }
}

TEST_F(IndexKeeperTest, AFolderOthersMayChangeIsRefusedAndNothingIsWrittenThere) {
  KeepRefusalNotesHere();
  struct Case {
    mode_t mode;
    bool other_owner;
    const char* refused;  // what the one line says; nullptr when the folder is used
  } cases[] = {
      {0777, false, "may be written by others (mode 0777)"},
      {0770, false, "may be written by its group (mode 0770)"},
      {01777, false, nullptr},  // sticky: each file in it is checked instead
      {0755, true, "belongs to user 65534"},
      {01777, true, "belongs to user 65534"},
  };
  int n = 0;
  for (const Case& c : cases) {
    if (c.other_owner && ::geteuid() != 0) continue;
    cache_ = dir_ + "/folder" + std::to_string(n++);
    ASSERT_EQ(::mkdir(cache_.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(cache_.c_str(), c.mode), 0);
    if (c.other_owner) {
      ASSERT_EQ(::chown(cache_.c_str(), 65534, 65534), 0);
    }
    g_lines.clear();
    (void)Request();
    const bool used = Request() != nullptr;
    EXPECT_EQ(used, c.refused == nullptr) << cache_;
    if (c.refused == nullptr) continue;
    EXPECT_TRUE(std::filesystem::is_empty(cache_)) << cache_;
    EXPECT_EQ(Count(c.refused), 1u) << cache_;
    EXPECT_EQ(g_lines.size(), 1u) << cache_;
  }
  // A folder the program makes is its user's alone.
  cache_ = dir_ + "/made";
  EXPECT_NE(Request(), nullptr);
  struct stat st;
  ASSERT_EQ(::stat(cache_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(IndexKeeperTest, TablePathsReadAsUtf8WhicheverSpellingFoundThem) {
  for (const std::string& name : {std::string("図書.DBF"), testing::Sjis("図書.DBF")}) {
    testing::RandomBookTable(1).WriteTo(dir_ + "/" + name);
    file_ = testing::OpenTable(dir_ + "/" + name);
    g_lines.clear();
    EXPECT_NE(Request(), nullptr);
    EXPECT_EQ(Count(" of " + dir_ + "/図書.DBF is missing; building it"), 1u) << g_lines[0];
    std::filesystem::remove(dir_ + "/" + name);
  }
}

}  // namespace
}  // namespace shelfra
