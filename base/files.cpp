// Path and file helpers over the POSIX calls.
#include "base/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace shelfra {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int FileReadError(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  return ::access(path.c_str(), R_OK) == 0 ? 0 : errno;
}

std::string NotOwnFile(const struct stat& st, unsigned user) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_uid != user) return "owned by user " + std::to_string(st.st_uid);
  if (st.st_nlink > 1) return "linked under a second name";
  return {};
}

}  // namespace shelfra
