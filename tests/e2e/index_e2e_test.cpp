// Whole-program tests of the search index as a web server runs the program: requests that
// arrive together start exactly one build, in a process of its own that no request waits
// for; afterwards the answers are the scan's, and the log says what happened, once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

size_t CountOf(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

TEST(IndexE2eTest, RequestsArrivingTogetherStartOneBuildAndGetTheScansAnswers) {
  CatalogueFixture catalogue;
  std::string books = "登録番号,書名,書名ｶﾅ,著者名,分類記号\n";
  const char* words[] = {"ねこ", "いぬ", "鉄道", "温泉", "ｶﾞｯｺｳ"};
  for (int i = 1; i <= 3000; ++i) {
    books += std::to_string(i) + "," + words[i % 5] + std::to_string(i % 7) + ",ﾃｽﾄ" + std::to_string(i % 11) + "," +
             words[(i / 5) % 5] + "," + std::to_string(i % 10) + "\n";
  }
  catalogue.WriteBooks(books);
  catalogue.WriteLoans("登録番号,返却予定日,返却済\n7,2026-12-20,F\n");
  const std::vector<std::string> queries = {"title1=" + Escape("ねこ3"), "keyword1=" + Escape("鉄道") + "&bunrui=9",
                                            "Author=" + Escape("いぬ"), "bunrui=3"};
  std::vector<std::string> scanned;
  for (const std::string& q : queries) scanned.push_back(catalogue.Get("", q).output);
  const std::string detail_scanned = catalogue.Get("/Detail", "NO=7").output;

  const std::string cache = catalogue.Directory() + "/cache";
  catalogue.AppendConfig("[Index]\nDirectory=" + cache + "\n");
  std::vector<CgiResult> results(6);
  std::vector<std::thread> requests;
  for (size_t i = 0; i < results.size(); ++i) {
    requests.emplace_back([&, i] { results[i] = RunCgi(catalogue.Request("", queries[i % queries.size()])); });
  }
  for (std::thread& t : requests) t.join();
  std::string log;
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].output, scanned[i % queries.size()]) << "request " << i;
    log += results[i].errors;
  }
  EXPECT_EQ(CountOf(log, "building it"), 1u) << log;

  // The build ends by itself; no request waited for it. It holds the index's lock file for as
  // long as it runs, and its last act is the report for the next request to log.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto files = [&](const char* extension) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(cache)) {
      if (e.path().extension() == extension) found.push_back(e.path());
    }
    return found;
  };
  auto build_ended = [&] {
    const std::vector<std::string> locks = files(".lock");
    if (locks.size() != 1) return false;
    const int fd = open(locks[0].c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) close(fd);
    return free;
  };
  while (!build_ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(files(".idx").size(), 1u);
  for (size_t i = 0; i < queries.size(); ++i) {
    CgiResult r = catalogue.Get("", queries[i]);
    EXPECT_EQ(r.output, scanned[i]) << queries[i];
    log += r.errors;
  }
  EXPECT_EQ(CountOf(log, "built index"), 1u) << log;  // passed on by the request after the build
  // The detail page makes the lending table's index the same way.
  EXPECT_EQ(catalogue.Get("/Detail", "NO=7").output, detail_scanned);
}

}  // namespace
}  // namespace shelfra::testing
