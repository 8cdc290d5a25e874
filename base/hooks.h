// Process-wide start-up and exit hooks, registered by the subsystems that need them.
#pragma once

#include <functional>

namespace shelfra {

// Runs at the application's Initialize, earliest registration first.
void AddStartupHook(std::function<void()> hook);
void RunStartupHooks();
// Runs once at process exit, latest registration first. Returns an id for RemoveExitHook.
int AddExitHook(std::function<void()> hook);
// Forgets a hook that has not run yet (its owner is going away first).
void RemoveExitHook(int id);
// Runs the pending exit hooks now (each at most once); also called automatically at exit.
void RunExitHooks();
// Runs just before a response is sent, earliest registration first. A hook that raises stops
// the response from going out; the exception takes its place (the 500 page). The data layer
// uses it to refuse answers read from a table file that changed meanwhile.
void AddBeforeSendHook(std::function<void()> hook);
void RunBeforeSendHooks();

}  // namespace shelfra
