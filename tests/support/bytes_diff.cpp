// Readable byte diff.
#include "tests/support/bytes_diff.h"

#include <algorithm>
#include <string>

#include "tests/support/sjis.h"

namespace shelfra::testing {

namespace {
std::string Visible(std::string_view s) {
  std::string plain;
  for (char c : s) {
    if (c == '\r') plain += "\\r";
    else if (c == '\n') plain += "\\n";
    else if (c == '\0') plain += "\\0";
    else plain.push_back(c);
  }
  return Utf8(plain);
}
}  // namespace

::testing::AssertionResult BytesEqual(std::string_view expected, std::string_view actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t n = std::min(expected.size(), actual.size());
  size_t at = 0;
  while (at < n && expected[at] == actual[at]) ++at;
  size_t line = 1 + static_cast<size_t>(std::count(expected.begin(), expected.begin() + at, '\n'));
  size_t from = at > 60 ? at - 60 : 0;
  // Do not start in the middle of a double-byte character when it can be helped.
  while (from > 0 && from < at && static_cast<unsigned char>(expected[from]) >= 0x80) --from;
  return ::testing::AssertionFailure()
         << "bytes differ at offset " << at << " (line " << line << "); sizes " << expected.size() << " vs "
         << actual.size() << "\n  expected: ..." << Visible(expected.substr(from, at - from + 80))
         << "\n  actual:   ..." << Visible(actual.substr(std::min(from, actual.size()), at - from + 80));
}

}  // namespace shelfra::testing
