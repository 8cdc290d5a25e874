// The index folder as someone else who may write it sees it. Whoever can write the folder can
// plant a symbolic link where the program writes (and have it write to, or read back, any file
// the web server's user can reach), another user's file or a second link to one of the
// program's files, an index that decides what visitors see, or a lock that stops every build.
// So the folder must be the program's own (or root's) and closed to others unless it is
// sticky, and every file the program opens there must be its own; anything else is left
// alone, said once in a while, and the request scans the table.
#pragma once

#include <cstdint>
#include <string>

#include "base/scoped_fd.h"
#include "engine/index_status.h"

namespace shelfra {

// A refusal is logged at most once in this many seconds per index folder, not per request.
inline constexpr int64_t kIndexRefusalLogSeconds = 5 * 60;

// Whether the index folder `directory` may be used: ok when it is a folder owned by this
// process's user or root that neither group nor others may write, or that is sticky (others'
// files in it are then refused one by one). A missing folder is made first when `make` is set:
// mode 0700, its owner checked after it was made. kFolderUnusable when there is none and it
// cannot be made, kFolderUntrusted when others may change it.
IndexStatus CheckIndexFolder(const std::string& directory, bool make);

// Opens the file at `path` in the index folder with `flags` (O_CREAT makes it with mode 0600)
// into `fd`, never through a symbolic link, never waiting on a FIFO, and checks what was opened:
// kNotOwn (and `fd` closed) when it is not this process's own file (NotOwnFile), kMissing when
// there is none and it was not to be made, kFolderUnusable when the system refused.
IndexStatus OpenOwnFile(const std::string& path, int flags, ScopedFd& fd);

// Removes the file at `path` when it is this process's own regular file (a symbolic link there
// is never followed, another's file is left); true when it was removed.
bool RemoveOwnFile(const std::string& path);

// True when a refusal of the index folder `directory` is due to be logged: the first in
// kIndexRefusalLogSeconds for it. Remembered in a small file of this user's own in the
// temporary folder ($TMPDIR, else /tmp), as the index folder cannot be trusted with it; when
// that file cannot be had, every refusal is due.
bool IndexRefusalLogDue(const std::string& directory);

}  // namespace shelfra
