// YieldToForeground: the lowest processor share for the session's group and the process, and
// the idle disk class.
#include "engine/background.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "base/scoped_fd.h"

namespace shelfra {

namespace {

// ioprio_set(2)'s arguments, fixed by the kernel's interface; older kernel headers do not
// name them.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

}  // namespace

void YieldToForeground() {
  // With session groups on, the scheduler shares the processor between groups first, and a new
  // session is a group of the same weight as the web server's whole group: a process's own nice
  // value counts only within its group. So the group itself goes to the lowest weight. The
  // kernel refuses an unprivileged write within a tenth of a second of anyone's (EAGAIN: the
  // book and lending tables' builds start together), so a refused write is tried once more
  // after that; this process is in the background, the wait costs nobody.
  if (ScopedFd group(::open("/proc/self/autogroup", O_WRONLY | O_CLOEXEC | O_NOFOLLOW)); group.Valid()) {
    if (::write(group.Get(), "19", 2) < 0 && errno == EAGAIN) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      (void)!::write(group.Get(), "19", 2);
    }
  }
  // Where the process shares a group with the web server (session groups off, or both in the
  // web server's control group), its own nice value is what counts.
  (void)::setpriority(PRIO_PROCESS, 0, 19);
  (void)::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift);
}

}  // namespace shelfra
