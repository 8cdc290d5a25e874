// Start-up and exit hook registry.
#include "base/hooks.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace shelfra {

namespace {
struct ExitHook {
  int id;
  std::function<void()> run;
};
// Never destroyed: objects with static storage may unregister while the process exits.
std::vector<std::function<void()>>& StartupHooks() {
  static auto* hooks = new std::vector<std::function<void()>>();
  return *hooks;
}
std::vector<ExitHook>& ExitHooks() {
  static auto* hooks = new std::vector<ExitHook>();
  return *hooks;
}
std::vector<std::function<void()>>& BeforeSendHooks() {
  static auto* hooks = new std::vector<std::function<void()>>();
  return *hooks;
}
}  // namespace

void AddStartupHook(std::function<void()> hook) { StartupHooks().push_back(std::move(hook)); }

void RunStartupHooks() {
  for (auto& hook : StartupHooks()) hook();
}

void AddBeforeSendHook(std::function<void()> hook) { BeforeSendHooks().push_back(std::move(hook)); }

void RunBeforeSendHooks() {
  for (auto& hook : BeforeSendHooks()) hook();
}

int AddExitHook(std::function<void()> hook) {
  static bool registered = false;
  static int next_id = 0;
  if (!registered) {
    registered = true;
    std::atexit([] { RunExitHooks(); });
  }
  ExitHooks().push_back({next_id, std::move(hook)});
  return next_id++;
}

void RemoveExitHook(int id) {
  auto& hooks = ExitHooks();
  for (auto it = hooks.begin(); it != hooks.end(); ++it) {
    if (it->id == id) {
      hooks.erase(it);
      return;
    }
  }
}

void RunExitHooks() {
  auto& hooks = ExitHooks();
  while (!hooks.empty()) {
    ExitHook hook = std::move(hooks.back());
    hooks.pop_back();
    hook.run();
  }
}

}  // namespace shelfra
