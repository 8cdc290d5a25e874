// The life of the search index files in the index directory: which index a request may use,
// one build at a time per table in a process of its own, failures remembered with a back-off,
// leftovers of dead builds and indexes of tables gone removed, and every event logged.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/index_status.h"
#include "engine/search_index.h"

namespace shelfra {

class DbfFile;

// Where index events go: one line each, readable UTF-8 (paths by ReadablePath). Nothing is
// logged until one is set. The builder running in a process of its own writes its lines to a
// file beside the index instead ("<hash>.report"); the next request that opens the index
// passes them on, so a web server that waits for a CGI program's standard error to close
// never waits for a build.
using IndexLog = void (*)(std::string_view line);
void SetIndexLog(IndexLog log);

// A build that failed (or whose process died) is not tried again for the same table before
// this many seconds have passed; a changed table is tried at once.
inline constexpr int64_t kIndexRetrySeconds = 15 * 60;
// An index whose table has been missing this long (a release folder removed) is removed by
// the next build in the directory.
inline constexpr int64_t kIndexOrphanSeconds = 24 * 60 * 60;

// The index of `file` for a request: the current one of `directory` when there is one.
// Otherwise nullptr, and unless a build of this table is running, or the last one failed for
// this very file less than kIndexRetrySeconds ago, a build is started in a process of its
// own that neither the request nor the web server waits for. Never waits, never raises, and
// writes nothing anywhere but `directory`.
std::unique_ptr<SearchIndex> IndexForRequest(const DbfFile& file, const SearchIndexFields& fields,
                                            const std::string& directory);

// Logs and removes what the build of `index` reported, when nobody has yet: for a process
// that keeps the index open from one request to the next, where no request opens it again
// (IndexForRequest does this for each index it opens). One open of a missing file when there
// is nothing to pass on.
void PassOnIndexReport(const SearchIndex& index);

// A request found `index` damaged: logs it and removes the file (when it is still the same
// file), so that the next request has it made again.
void RetireDamagedIndex(const SearchIndex& index);

// Makes the index of `file` in `directory` now, in this process (the operator's command),
// after waiting up to `wait_seconds` for a build in progress to end. `report` says what
// happened, a line for each event (leftovers removed, the build). Ok when a current index is
// there afterwards; else kFolderUnusable, kBusy (the wait ran out) or the build's failure.
// Logs nothing: the report is the caller's to show.
IndexStatus BuildIndexNow(const DbfFile& file, const SearchIndexFields& fields, const std::string& directory,
                          int wait_seconds, std::string& report);

// Tests only: requests build in their own process and wait for it (true), as the operator's
// command does, instead of leaving the build to a process of its own (false, the default).
void SetIndexBuildsInlineForTesting(bool inline_builds);

}  // namespace shelfra
