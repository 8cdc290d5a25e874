// Start-only reference: a C++ program linked like the catalogue program (with the C++ runtime)
// that only starts and exits. Its wall time is the floor of any per-request process.
#include <string>

int main(int argc, char** argv) {
  std::string name(argc > 0 ? argv[0] : "");
  return name.size() > 1000000 ? 1 : 0;
}
