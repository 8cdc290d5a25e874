// Start-up and exit hook registry.
#include "base/hooks.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace shelfra {

namespace {
std::vector<std::function<void()>>& StartupHooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}
std::vector<std::function<void()>>& ExitHooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}
}  // namespace

void AddStartupHook(std::function<void()> hook) { StartupHooks().push_back(std::move(hook)); }

void RunStartupHooks() {
  for (auto& hook : StartupHooks()) hook();
}

void AddExitHook(std::function<void()> hook) {
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit([] { RunExitHooks(); });
  }
  ExitHooks().push_back(std::move(hook));
}

void RunExitHooks() {
  auto& hooks = ExitHooks();
  while (!hooks.empty()) {
    std::function<void()> hook = std::move(hooks.back());
    hooks.pop_back();
    hook();
  }
}

}  // namespace shelfra
