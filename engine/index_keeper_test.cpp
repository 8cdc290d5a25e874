// The index's life: one build at a time, failures remembered with a back-off, leftovers of
// dead builds removed, every event logged once.
#include "engine/index_keeper.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
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
  }
  std::unique_ptr<SearchIndex> Request() { return IndexForRequest(*file_, fields_, cache_); }

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

}  // namespace
}  // namespace shelfra
