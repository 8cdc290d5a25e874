// The current request's variables, its number, and the hooks run at its start.
#include "base/request_context.h"

#include <cstring>
#include <utility>
#include <vector>

extern char** environ;

namespace shelfra {

namespace {

char** g_variables = nullptr;  // the request's, or nullptr for the process's environment
uint64_t g_request_number = 0;

// Never destroyed: see base/hooks.cpp.
std::vector<std::function<void()>>& StartHooks() {
  static auto* hooks = new std::vector<std::function<void()>>();
  return *hooks;
}
std::vector<std::function<void()>>& DetachHooks() {
  static auto* hooks = new std::vector<std::function<void()>>();
  return *hooks;
}

const char* Find(char** variables, std::string_view name) {
  if (variables == nullptr) return nullptr;
  for (char** v = variables; *v != nullptr; ++v) {
    const char* entry = *v;
    if (std::strncmp(entry, name.data(), name.size()) == 0 && entry[name.size()] == '=') {
      return entry + name.size() + 1;
    }
  }
  return nullptr;
}

}  // namespace

void BeginRequest(char** variables) {
  g_variables = variables;
  ++g_request_number;
  for (auto& hook : StartHooks()) hook();
}

void EndRequest() { g_variables = nullptr; }

uint64_t RequestNumber() { return g_request_number; }

const char* RequestVariable(std::string_view name) {
  // A name with '=' or a zero byte in it names nothing.
  if (name.find('=') != std::string_view::npos || name.find('\0') != std::string_view::npos) return nullptr;
  return Find(g_variables != nullptr ? g_variables : environ, name);
}

const char* RequestOrProcessVariable(std::string_view name) {
  const char* value = RequestVariable(name);
  if (value != nullptr && *value != '\0') return value;
  if (g_variables == nullptr) return nullptr;  // the request's variables were the environment's
  value = Find(environ, name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

void AddRequestStartHook(std::function<void()> hook) { StartHooks().push_back(std::move(hook)); }

void AddDetachHook(std::function<void()> hook) { DetachHooks().push_back(std::move(hook)); }

void RunDetachHooks() {
  for (auto& hook : DetachHooks()) hook();
}

}  // namespace shelfra
