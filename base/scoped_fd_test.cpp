// ScopedFd: the descriptor is closed exactly once, by whichever owner holds it last.
#include "base/scoped_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace shelfra {
namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(ScopedFdTest, ClosesOnceWhateverTheWayItGoes) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    ScopedFd a(fds[0]);
    ScopedFd b(std::move(a));  // the move hands it over: a closes nothing
    EXPECT_FALSE(a.Valid());
    ScopedFd c(fds[1]);
    c = std::move(b);  // assignment closes what c held
    EXPECT_FALSE(IsOpen(fds[1]));
    EXPECT_TRUE(IsOpen(fds[0]));
  }
  EXPECT_FALSE(IsOpen(fds[0]));

  ASSERT_EQ(::pipe(fds), 0);
  ScopedFd kept(fds[0]);
  EXPECT_EQ(kept.Release(), fds[0]);  // released: left open
  kept.Reset();
  EXPECT_TRUE(IsOpen(fds[0]));
  ScopedFd closed(fds[1]);
  EXPECT_EQ(closed.Close(), 0);
  EXPECT_FALSE(IsOpen(fds[1]));
  EXPECT_EQ(closed.Close(), 0);  // nothing held any more
  kept.Reset(fds[0]);
}

}  // namespace
}  // namespace shelfra
