// Paths and files as the host sees them: the folder part of a path, whether a file can be
// read, and whether a file the program keeps is its own.
#pragma once

#include <string>

struct stat;

namespace shelfra {

// The folder part of `path`: everything before its last "/" ("/" for a file at the root, "."
// for a bare name).
std::string DirectoryOf(const std::string& path);

// 0 when `path` is a regular file this process may read, else the reason as an errno value
// (EISDIR for anything but a regular file).
int FileReadError(const std::string& path);

// Why the file `st` describes (from fstat, or lstat for a name) is not one the program may
// trust as its own: empty when it is a regular file owned by `user` with one link (or none: it
// was replaced or removed since it was opened), else "a symbolic link", "not a regular file",
// "owned by user N" or "linked under a second name". Someone who may write the folder can
// plant any of these to be written through or read back.
std::string NotOwnFile(const struct stat& st, unsigned user);

}  // namespace shelfra
