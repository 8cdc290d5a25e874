// ScratchDir: a fresh folder of a test's own, removed with everything in it when the object
// goes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace shelfra::testing {

class ScratchDir {
 public:
  // A new folder in the test's temporary folder, its name beginning with `name`.
  explicit ScratchDir(std::string_view name) {
    std::string pattern = ::testing::TempDir() + std::string(name) + "_XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace shelfra::testing
