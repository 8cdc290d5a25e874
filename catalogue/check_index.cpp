// The catalogue check's index folder: usable by the program, and each table's index current
// or why not.
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
#include "engine/search_index.h"

namespace shelfra {

using check::U;

void CatalogueChecker::IndexFolder(const std::vector<std::pair<std::string, const DbfFile*>>& tables) {
  const std::string directory = IndexDirectory();
  if (directory.empty()) {
    Ok("no index folder ([Index] Directory= is not set): every search reads the whole table, and the program "
       "writes nothing");
    return;
  }
  const std::string folder = U(directory);
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
  if (::access(directory.c_str(), W_OK | X_OK) != 0) {
    Problem("index folder " + folder + " cannot be written by this user (" + ErrnoText(errno) +
                "): searches scan the table and every request logs it",
            "let the web server's user write it (chown www-data " + folder + ")");
    return;
  }
  Ok("index folder " + folder + ": writable");
  for (const auto& [table, file] : tables) {
    const std::string path = SearchIndex::PathFor(*file, directory);
    std::unique_ptr<SearchIndex> index;
    if (const IndexStatus why = SearchIndex::Open(*file, path, index); why.Ok()) {
      Ok("index of " + table + ": current (" + U(path) + ")");
    } else if (why.reason == IndexReason::kMissing) {
      Note("index of " + table + ": none yet (" + U(path) + "): the first request makes it, or run shelfra-index");
    } else {
      Note("index of " + table + ": " + why.message + " (" + U(path) +
           "): the next request makes it again, or run shelfra-index");
    }
  }
}


}  // namespace shelfra
