// The index build of the operator's command, through the session as the web program reads the
// tables.
#include "catalogue/index_command.h"

#include <exception>
#include <string>

#include "base/error_log.h"
#include "base/exceptions.h"
#include "catalogue/catalogue.h"
#include "data/database.h"
#include "data/session.h"
#include "engine/host_config.h"
#include "engine/index_keeper.h"

namespace shelfra {

int BuildCatalogueIndexes(int wait_seconds, const IndexCommandSay& say, const IndexCommandSay& complain) {
  const std::string directory = IndexDirectory();
  if (directory.empty()) {
    complain("shelfra-index: the host configuration " + ReadablePath(HostConfigPath()) +
             " names no index directory ([Index] Directory=); nothing to build");
    return 2;
  }
  int status = 0;
  try {
    TDatabase& database = Session().OpenDatabase(CatalogueAlias());
    for (std::string_view table : {BookTableName(), LendingTableName()}) {
      const DbfFile& file = database.OpenTableFile(table);
      std::string report;
      if (!BuildIndexNow(file, CatalogueIndexFields(), directory, wait_seconds, report).Ok()) status = 1;
      say(report);
    }
  } catch (const Exception& e) {
    complain("shelfra-index: " + std::string(e.ClassName()) + ": " + ReadableUtf8(e.Message()));
    return 2;
  } catch (const std::exception& e) {
    complain(std::string("shelfra-index: ") + ReadableUtf8(e.what()));
    return 2;
  }
  return status;
}

}  // namespace shelfra
