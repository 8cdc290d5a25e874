// Paths and files as the host sees them: the folder part of a path and whether a file can be
// read.
#pragma once

#include <string>

namespace shelfra {

// The folder part of `path`: everything before its last "/" ("/" for a file at the root, "."
// for a bare name).
std::string DirectoryOf(const std::string& path);

// 0 when `path` is a regular file this process may read, else the reason as an errno value
// (EISDIR for anything but a regular file).
int FileReadError(const std::string& path);

}  // namespace shelfra
