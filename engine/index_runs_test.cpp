// PairRuns: entries spilled in many small runs merge into the same record lists as one run,
// and an index built with small runs is byte for byte the index built with one.
#include "engine/index_runs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/scoped_fd.h"
#include "engine/dbf_file.h"
#include "engine/engine_test_support.h"
#include "engine/search_index.h"
#include "tests/support/book_tables.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

class PairRunsTest : public ::testing::Test {
 protected:

  // The record lists of `records` (per record, its distinct pairs) through runs of
  // `run_entries`, decoded; the number of runs in `run_count`.
  std::map<uint32_t, std::vector<uint32_t>> Merged(const std::vector<std::vector<uint32_t>>& records,
                                                   size_t run_entries, size_t& run_count) {
    ScopedFd side(::open((dir_ + "/side" + std::to_string(run_entries)).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
    EXPECT_TRUE(side.Valid());
    PairRuns runs(side.Get(), run_entries);
    for (uint32_t ordinal = 0; ordinal < records.size(); ++ordinal) {
      for (uint32_t pair : records[ordinal]) runs.Add(pair, ordinal);
      EXPECT_TRUE(runs.SpillWhenFull().Ok());
    }
    EXPECT_TRUE(runs.Finish().Ok());
    run_count = runs.RunCount();
    std::map<uint32_t, std::vector<uint32_t>> lists;
    uint32_t previous_pair = 0;
    const IndexStatus merged = runs.Merge([&](uint32_t pair, uint32_t count, std::string_view list) {
      EXPECT_TRUE(lists.empty() || pair > previous_pair) << "pairs out of order";
      previous_pair = pair;
      const auto* p = reinterpret_cast<const unsigned char*>(list.data());
      std::vector<uint32_t>& out = lists[pair];
      for (PostingCursor c(p, p + list.size(), count); !c.Done(); c.Advance()) out.push_back(c.Value());
      EXPECT_EQ(out.size(), count);
    });
    EXPECT_TRUE(merged.Ok()) << merged.message;
    return lists;
  }

  testing::ScratchDir scratch_{"pair_runs"};
  const std::string dir_ = scratch_.Path();
};

TEST_F(PairRunsTest, ManySmallRunsMergeIntoTheListsOfOne) {
  std::mt19937 random(11);
  std::vector<std::vector<uint32_t>> records(3000);
  std::map<uint32_t, std::vector<uint32_t>> expected;
  for (uint32_t ordinal = 0; ordinal < records.size(); ++ordinal) {
    // A few common pairs, some rare ones, and pairs whose halves sort differently.
    for (uint32_t pair : {random() % 8, 0x10000u * (random() % 300) + random() % 5, random() | 0x80000000u}) {
      if (std::find(records[ordinal].begin(), records[ordinal].end(), pair) != records[ordinal].end()) continue;
      records[ordinal].push_back(pair);
      expected[pair].push_back(ordinal);
    }
  }
  size_t one_run = 0, small_runs = 0;
  EXPECT_EQ(Merged(records, kIndexRunEntries, one_run), expected);
  EXPECT_EQ(one_run, 1u);
  EXPECT_EQ(Merged(records, 100, small_runs), expected);
  EXPECT_GT(small_runs, 50u);
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(PairRunsTest, AnIndexBuiltInSmallRunsIsTheIndexBuiltInOne) {
  const std::string table = dir_ + "/books.dbf";
  testing::RandomBookTable(5, 2000).WriteTo(table);
  std::unique_ptr<DbfFile> file = testing::OpenTable(table);
  SearchIndexFields fields;
  fields.texts = {testing::Sjis("書名"), testing::Sjis("書名ｶﾅ"), testing::Sjis("著者名")};
  fields.sort = testing::Sjis("書名ｶﾅ");
  ASSERT_TRUE(SearchIndex::Build(*file, fields, dir_ + "/one.idx").Ok());
  const IndexStatus built = SearchIndex::Build(*file, fields, dir_ + "/runs.idx", 64);
  ASSERT_TRUE(built.Ok()) << built.message;
  EXPECT_EQ(FileBytes(dir_ + "/runs.idx"), FileBytes(dir_ + "/one.idx"));
  std::unique_ptr<SearchIndex> index;
  ASSERT_TRUE(SearchIndex::Open(*file, dir_ + "/runs.idx", index).Ok());
  const std::string statement = testing::Sjis("select * from books where 書名 like '%ね%' order by 書名ｶﾅ");
  bool from_index = false;
  EXPECT_EQ(testing::RunStatement(statement, *file, index.get(), &from_index), testing::RunStatement(statement, *file));
  EXPECT_TRUE(from_index);
}

}  // namespace
}  // namespace shelfra
