// Operator's command: builds or refreshes the search indexes of the catalogue's two tables
// from the shell (after copying a new catalogue in, or from cron), as the web program would
// in the background. Never reachable through the web server: it is no CGI program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "app/catalogue.h"
#include "base/error_log.h"
#include "base/exceptions.h"
#include "data/database.h"
#include "data/session.h"
#include "engine/host_config.h"
#include "engine/index_keeper.h"

namespace {

constexpr std::string_view kUsage =
    "usage: shelfra-index [--wait SECONDS]\n"
    "Builds the search index of each catalogue table whose index is missing or stale, in the\n"
    "index directory of the host configuration ([Index] Directory=). A build the web program\n"
    "started is waited for up to SECONDS (default 600). Exit status: 0 when both indexes are\n"
    "current afterwards, 1 when one could not be built, 2 when there is nothing to build in.\n";

// A line on a terminal: the program's texts and the table paths are Shift_JIS; terminals
// read UTF-8.
void Say(std::FILE* out, std::string_view line) {
  const std::string text = shelfra::ReadableUtf8(line);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
}

}  // namespace

int main(int argc, char** argv) {
  int wait_seconds = 600;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
      wait_seconds = std::atoi(argv[++i]);
    } else {
      std::fputs(kUsage.data(), std::strcmp(argv[i], "--help") == 0 ? stdout : stderr);
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  const std::string directory = shelfra::IndexDirectory();
  if (directory.empty()) {
    Say(stderr, "shelfra-index: the host configuration " + shelfra::HostConfigPath() +
                    " names no index directory ([Index] Directory=); nothing to build");
    return 2;
  }
  int status = 0;
  try {
    shelfra::TDatabase& database = shelfra::Session().OpenDatabase(shelfra::CatalogueAlias());
    for (std::string_view table : {shelfra::BookTableName(), shelfra::LendingTableName()}) {
      const shelfra::DbfFile& file = database.OpenTableFile(table);
      std::string report;
      if (!shelfra::BuildIndexNow(file, shelfra::CatalogueIndexFields(), directory, wait_seconds, report).Ok()) {
        status = 1;
      }
      Say(stdout, report);
    }
  } catch (const shelfra::Exception& e) {
    Say(stderr, "shelfra-index: " + std::string(e.ClassName()) + ": " + e.Message());
    return 2;
  } catch (const std::exception& e) {
    Say(stderr, std::string("shelfra-index: ") + e.what());
    return 2;
  }
  return status;
}
