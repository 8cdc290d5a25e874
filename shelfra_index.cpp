// Operator's command: builds or refreshes the search indexes of the catalogue's two tables
// from the shell (after copying a new catalogue in, or from cron), as the web program would
// in the background. Never reachable through the web server: it is no CGI program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "catalogue/index_command.h"

namespace {

constexpr std::string_view kUsage =
    "usage: shelfra-index [--wait SECONDS]\n"
    "Builds the search index of each catalogue table whose index is missing or stale, in the\n"
    "index directory of the host configuration ([Index] Directory=). A build the web program\n"
    "started is waited for up to SECONDS (default 600). Exit status: 0 when both indexes are\n"
    "current afterwards, 1 when one could not be built, 2 when there is nothing to build in.\n";

// A line on a terminal: the command's lines are readable UTF-8 already.
void Say(std::FILE* out, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), out);
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
  return shelfra::BuildCatalogueIndexes(
      wait_seconds, [](std::string_view line) { Say(stdout, line); }, [](std::string_view line) { Say(stderr, line); });
}
