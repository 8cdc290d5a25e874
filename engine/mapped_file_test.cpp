// MappedFile: the bytes and identity of the file opened, what cannot be opened, and a file cut
// short under its mapping read as zeros and reported instead of ending the process.
#include "engine/mapped_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/scratch_dir.h"

namespace shelfra {
namespace {

class MappedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ + "/file";
    for (size_t k = 0; k < 3 * 4096 + 5; ++k) bytes_.push_back(static_cast<char>('a' + k % 23));
    std::ofstream(path_, std::ios::binary).write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  }

  testing::ScratchDir scratch_{"mapped_file"};
  const std::string dir_ = scratch_.Path();
  std::string path_, bytes_;
};

TEST_F(MappedFileTest, MapsTheBytesAndKnowsTheFile) {
  std::unique_ptr<MappedFile> file;
  ASSERT_EQ(MappedFile::Open(path_, file), 0);
  EXPECT_EQ(file->Bytes(), bytes_);
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(file->Identity().inode, static_cast<uint64_t>(st.st_ino));
  EXPECT_EQ(file->Identity().device, static_cast<uint64_t>(st.st_dev));
  EXPECT_EQ(file->Identity().size, static_cast<int64_t>(bytes_.size()));
  EXPECT_EQ(file->Identity().mtime_ns, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec);
  std::string buffer;
  std::string_view part;
  ASSERT_TRUE(file->Read(4090, 10, buffer, part));
  EXPECT_EQ(part, bytes_.substr(4090, 10));
  EXPECT_FALSE(file->Lost());
  EXPECT_FALSE(file->Changed());
}

TEST_F(MappedFileTest, WhatIsNoRegularFileIsRefused) {
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  std::filesystem::create_directories(dir_ + "/folder");
  struct Case {
    std::string path;
    int err;
  };
  const Case cases[] = {{dir_ + "/none", ENOENT}, {path_ + "/below", ENOTDIR}, {dir_ + "/folder", EISDIR},
                        {dir_ + "/fifo", EISDIR}};  // never waits for a writer
  for (const Case& c : cases) {
    std::unique_ptr<MappedFile> file;
    EXPECT_EQ(MappedFile::Open(c.path, file), c.err) << c.path;
    EXPECT_EQ(file, nullptr) << c.path;
  }
}

TEST_F(MappedFileTest, AFileCutShortUnderTheMappingReadsZerosAndIsLost) {
  std::unique_ptr<MappedFile> file;
  ASSERT_EQ(MappedFile::Open(path_, file), 0);
  const std::string_view bytes = file->Bytes();
  ASSERT_EQ(::truncate(path_.c_str(), 100), 0);
  // The pages past the new end are gone: the guard puts zeros there instead of a SIGBUS.
  EXPECT_EQ(bytes[2 * 4096 + 1], '\0');
  EXPECT_EQ(bytes[3 * 4096 + 4], '\0');
  EXPECT_TRUE(file->Lost());
  EXPECT_TRUE(file->Changed());
  std::string buffer;
  std::string_view part;
  EXPECT_FALSE(file->Read(4096, 10, buffer, part));
}

}  // namespace
}  // namespace shelfra
