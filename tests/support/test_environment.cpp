// Linked into every test binary: tells tests where the sources and the build tree are, through
// SHELFRA_SOURCE_DIR and SHELFRA_BINARY_DIR, unless the environment already sets them.
#include <cstdlib>

namespace {
struct TestEnvironment {
  TestEnvironment() {
    setenv("SHELFRA_SOURCE_DIR", SHELFRA_BUILT_SOURCE_DIR, 0);
    setenv("SHELFRA_BINARY_DIR", SHELFRA_BUILT_BINARY_DIR, 0);
  }
} g_test_environment;
}  // namespace
