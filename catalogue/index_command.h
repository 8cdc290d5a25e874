// The operator's index build: the search indexes of the catalogue's two tables made now, from
// the shell, as the web program would make them in the background.
#pragma once

#include <functional>
#include <string_view>

namespace shelfra {

// Where the build's lines go (readable UTF-8, paths by ReadablePath; one line a call, without a
// line end).
using IndexCommandSay = std::function<void(std::string_view line)>;

// Builds the index of each catalogue table whose index is missing or stale in the index
// directory of the host configuration, waiting up to `wait_seconds` for a build the web program
// started. What happened goes to `say`, failures to `complain`. Returns the command's exit
// status: 0 when both indexes are current afterwards, 1 when one could not be built, 2 when
// there is nothing to build in (no index directory) or the catalogue does not open.
// Raises nothing but std::bad_alloc.
int BuildCatalogueIndexes(int wait_seconds, const IndexCommandSay& say, const IndexCommandSay& complain);

}  // namespace shelfra
