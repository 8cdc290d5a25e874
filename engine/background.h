// Giving way to the visitors' requests: what a process that does long work detached from them
// (the index build) does first.
#pragma once

namespace shelfra {

// Lowers the calling process to the smallest share of the processor and of the disk: the nice
// value of its session's scheduling group (/proc/self/autogroup) and its own to 19, its disk
// reads and writes to the idle class. Call it after setsid(), so that the group is the new
// session's, which holds this process alone. Each step the system refuses (a kernel
// without session groups, a container without the file) is left out; never raises, logs
// nothing.
void YieldToForeground();

}  // namespace shelfra
