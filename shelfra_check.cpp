// Operator's command: checks the catalogue as the web program would find it - configuration,
// alias, tables, the fields the pages read, settings and the index folder - and prints a line
// per finding. Never reachable through the web server: it is no CGI program.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_check.h"
#include "base/text.h"

namespace {

constexpr std::string_view kUsage =
    "usage: shelfra-check\n"
    "Checks the catalogue the host configuration names (SHELFRA_CONFIG, else shelfra.conf beside\n"
    "this command) as the web program would find it, and prints a UTF-8 line per finding:\n"
    "\"ok:\", \"note:\" (it serves, but worth knowing) or \"problem:\" (with what to do), then a\n"
    "\"summary:\" line. Run it as the web server's user. Writes nothing. Exit status: 0 when the\n"
    "catalogue will serve, 1 when there is a problem, 2 for a usage error.\n";

void Say(std::FILE* out, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), out);
  std::fputc('\n', out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    std::fwrite(kUsage.data(), 1, kUsage.size(), help ? stdout : stderr);
    return help ? 0 : 2;
  }
  const std::vector<shelfra::Finding> findings = shelfra::CheckCatalogue();
  int problems = 0, notes = 0;
  for (const shelfra::Finding& f : findings) {
    problems += f.kind == shelfra::FindingKind::kProblem;
    notes += f.kind == shelfra::FindingKind::kNote;
    Say(stdout, shelfra::FindingLine(f));
  }
  const std::string counts = shelfra::IntToStr(problems) + (problems == 1 ? " problem, " : " problems, ") +
                             shelfra::IntToStr(notes) + (notes == 1 ? " note" : " notes");
  const bool serves = shelfra::CatalogueServes(findings);
  Say(stdout, serves ? "summary: the catalogue will serve (" + counts + ")"
                     : "summary: the catalogue will not serve as it should (" + counts + ")");
  std::fflush(stdout);
  return serves ? 0 : 1;
}
