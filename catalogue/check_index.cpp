// The catalogue check's index folder: usable by the program, and each table's index current
// or why not.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "base/error_log.h"
#include "base/files.h"
#include "catalogue/check_parts.h"
#include "engine/dbf_file.h"
#include "engine/host_config.h"
#include "engine/index_folder.h"
#include "engine/search_index.h"

namespace shelfra {

namespace {

// The command that gives the index folder `st` describes to this user alone.
std::string TrustFix(const std::string& folder, const struct stat& st) {
  std::string fix;
  if (st.st_uid != ::geteuid() && st.st_uid != 0) {
    const passwd* user = ::getpwuid(::geteuid());
    fix = "chown " + (user != nullptr ? std::string(user->pw_name) : std::to_string(::geteuid())) + " " + folder +
          " && ";
  }
  return fix + "chmod go-w " + folder + " (as the web server's user runs this check)";
}

}  // namespace

void CatalogueChecker::IndexFolder(const std::vector<std::pair<std::string, const DbfFile*>>& tables) {
  const std::string directory = IndexDirectory();
  if (directory.empty()) {
    Ok("no index folder ([Index] Directory= is not set): every search reads the whole table, and the program "
       "writes nothing");
    return;
  }
  const std::string folder = ReadablePath(directory);
  struct stat st;
  if (::stat(directory.c_str(), &st) != 0) {
    const int err = errno;
    // The program makes the folder itself, one level, when it may write its parent.
    const std::string parent = DirectoryOf(directory);
    if (err == ENOENT && ::access(parent.c_str(), W_OK | X_OK) == 0) {
      Note("index folder " + folder + " does not exist yet: the first request makes it");
    } else {
      Problem("index folder " + folder + " cannot be made or used (" + ErrnoText(err) +
                  "): searches scan the table and every request logs it",
              "mkdir -p " + folder + " and let the web server's user write it");
    }
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    Problem("index folder " + folder + " is no folder: searches scan the table and every request logs it",
            "remove or rename what is there, or set [Index] Directory= to a folder");
    return;
  }
  if (const IndexStatus trust = CheckIndexFolder(directory, /*make=*/false);
      trust.reason == IndexReason::kFolderUntrusted) {
    Problem(trust.message + ": others could plant the index visitors see; no index is used or made there and every "
                            "search scans the table",
            TrustFix(folder, st));
    return;
  }
  if (::access(directory.c_str(), W_OK | X_OK) != 0) {
    Problem("index folder " + folder + " cannot be written by this user (" + ErrnoText(errno) +
                "): searches scan the table and every request logs it",
            "let the web server's user write it (chown www-data " + folder + ")");
    return;
  }
  Ok("index folder " + folder + ": writable");
  for (const auto& [table, file] : tables) {
    const std::string path = SearchIndex::PathFor(*file, directory);
    const std::string shown = ReadablePath(path);
    std::unique_ptr<SearchIndex> index;
    const IndexStatus why = SearchIndex::Open(*file, path, index);
    std::string planted = why.reason == IndexReason::kNotOwn ? path : "";
    for (const char* suffix : {".lock", ".report"}) {
      const std::string other = path.substr(0, path.size() - 4) + suffix;
      struct stat at;
      if (planted.empty() && ::lstat(other.c_str(), &at) == 0 && !NotOwnFile(at, ::geteuid()).empty()) planted = other;
    }
    if (!planted.empty()) {
      struct stat at{};
      (void)::lstat(planted.c_str(), &at);
      Problem("index of " + table + ": " + ReadablePath(planted) + " is " + NotOwnFile(at, ::geteuid()) +
                  ", not this program's own file: it is left alone and every search scans the table",
              "remove it (rm " + ReadablePath(planted) + "); the next request makes the index");
    } else if (why.Ok()) {
      Ok("index of " + table + ": current (" + shown + ")");
    } else if (why.reason == IndexReason::kMissing) {
      Note("index of " + table + ": none yet (" + shown + "): the first request makes it, or run shelfra-index");
    } else {
      Note("index of " + table + ": " + why.message + " (" + shown +
           "): the next request makes it again, or run shelfra-index");
    }
  }
}


}  // namespace shelfra
