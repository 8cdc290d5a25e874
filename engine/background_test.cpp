// YieldToForeground: a process of its own session ends at the lowest processor and disk
// priority, its session's group included.
#include "engine/background.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace shelfra {
namespace {

// What the child process found after the call, sent back through a pipe.
struct Found {
  int nice = 0;
  long io_class = 0;   // ioprio_get's class: 3 is idle
  char group[128]{};   // the line of /proc/self/autogroup; empty when it cannot be written
};

TEST(YieldToForegroundTest, LowersTheProcessItsSessionGroupAndItsDiskClass) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A session of its own, as the detached build has: the group changed is the child's alone.
    ::setsid();
    YieldToForeground();
    Found found;
    found.nice = ::getpriority(PRIO_PROCESS, 0);
    found.io_class = ::syscall(SYS_ioprio_get, 1 /* IOPRIO_WHO_PROCESS */, 0) >> 13;
    if (::access("/proc/self/autogroup", W_OK) == 0) {
      std::string line;
      std::getline(std::ifstream("/proc/self/autogroup"), line);
      std::strncpy(found.group, line.c_str(), sizeof found.group - 1);
    }
    ::_exit(::write(fds[1], &found, sizeof found) == sizeof found ? 0 : 1);
  }
  ::close(fds[1]);
  Found found;
  const ssize_t n = ::read(fds[0], &found, sizeof found);
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(n, static_cast<ssize_t>(sizeof found));
  EXPECT_EQ(found.nice, 19);
  EXPECT_EQ(found.io_class, 3);
  if (const std::string group = found.group; !group.empty()) {
    EXPECT_TRUE(group.ends_with(" nice 19")) << group;
  }
}

}  // namespace
}  // namespace shelfra
