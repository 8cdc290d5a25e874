// The pages' validators: an entity tag and a modification time made from the identity of the
// catalogue's files and of the program itself, and the conditional requests they answer.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace shelfra::opac {

struct Validators {
  std::string etag;           // quoted, e.g. "\"3f2a...\"" (a strong tag)
  std::time_t modified = 0;   // the newest modification time of the files it is made from
};

// The validators of the catalogue as it is now: the device, inode, size and modification time
// of the book table, the lending table and the settings file (a missing file counts as such),
// and the program's version and its own file, so that a new program or a changed catalogue
// gives new validators. Raises EDBEngineError when the catalogue's alias is not configured.
Validators CatalogueValidators();

// What every harvested record is made from: the book table, the settings file (class names,
// the repository's identifier) and the program's own file, but not the lending table, which
// the records do not show.
struct RecordsState {
  std::string tag;          // 16 hex digits of the three files' device, inode, size, times
  std::time_t changed = 0;  // the newest modification or status-change time of the three
};
// The records' state now. `changed` takes the status-change time too, because a copy that keeps
// the modification time (cp -p, rsync -t, unzip) still sets it to the moment it was made. A
// missing file counts as such. Raises EDBEngineError when the catalogue's alias is not
// configured.
RecordsState HarvestState();

// Whether a GET or HEAD whose answer would be a 200 with `validators` may be answered 304:
// `if_none_match` ("*" or a list of tags, weak or strong) names its tag; else, when
// `if_none_match` is empty, `if_modified_since` is an HTTP date not before `modified`.
bool NotModified(const Validators& validators, std::string_view if_none_match, std::string_view if_modified_since);

// `time` as an HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::time_t time);
// The time an HTTP date in that form names; nothing for any other text.
std::optional<std::time_t> ParseHttpDate(std::string_view text);

}  // namespace shelfra::opac
