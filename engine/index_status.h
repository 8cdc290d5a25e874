// IndexStatus: what every fallible call of the search index path returns - opening, checking,
// building and keeping an index - a reason the caller can test and the words the log shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/error_log.h"

namespace shelfra {

// Why an index call did not succeed. The messages given are those the calls make (the log
// lines and reports quote them); "<err>" stands for the system's text of the errno value.
enum class IndexReason : uint8_t {
  kOk,
  // Opening: the index at the path cannot serve the table as it is now.
  kMissing,        // "missing": no file there
  kUnreadable,     // "unreadable: <err>"
  kOtherVersion,   // "of another program version"
  kMalformed,      // "cut short", "damaged (its header)", "damaged (its checksums)", "damaged (its sections)"
  kStale,          // "stale (the table was replaced or changed since)"
  kOtherTable,     // "made for another table"
  kOtherFields,    // "made for other fields"
  kDamaged,        // a block failed its check, or a page of the file went away under the reader
  // Building.
  kNoFields,       // "the table has none of the fields an index holds"
  kTooLarge,       // "the folded texts exceed 4 GB", "the shown rows exceed 4 GB"
  kTableChanged,   // "the table changed while it was read"
  kOutOfMemory,    // "out of memory"
  kCreateFailed,   // "cannot create the temporary file: <err>"
  kWriteFailed,    // "cannot write the index: <err>", "cannot write the side file: <err>"
  kReadBackFailed, // "cannot read the side file back"
  kRenameFailed,   // "cannot rename the index into place: <err>"
  // Keeping: the lock file, the state record and the build process.
  kFolderUnusable, // "cannot open <lock file>: <err>", "cannot make it: <err>", "it is no folder"
  kFolderUntrusted,  // "the index folder <path> belongs to user N, ...", "... may be written by others (mode 0777)"
  kNotOwn,         // "<path> is a symbolic link, left alone" (or another user's file, or linked twice)
  kStateUnwritable,  // "cannot record the attempt in its lock file: <err>"
  kNoProcess,      // "cannot start a build process: <err>"
  kBusy,           // a build of the table is running (or another request is deciding)
  kBackingOff,     // the last build of this very table file failed a short while ago
};

struct [[nodiscard]] IndexStatus {
  IndexReason reason = IndexReason::kOk;
  std::string message;   // the words of the log line; empty when ok
  int native_error = 0;  // the system's errno where the system refused, else 0

  bool Ok() const { return reason == IndexReason::kOk; }

  static IndexStatus Failed(IndexReason reason, std::string message) {
    return IndexStatus{reason, std::move(message), 0};
  }
  // A refusal of the system: the message is "<what>: <the system's text of err>".
  static IndexStatus Refused(IndexReason reason, std::string_view what, int err) {
    return IndexStatus{reason, std::string(what) + ": " + ErrnoText(err), err};
  }
};

}  // namespace shelfra
