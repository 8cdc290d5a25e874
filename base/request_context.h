// The request being served. A CGI process serves one request, whose variables are the
// process's environment; a FastCGI responder serves many in turn, each with the variables the
// web server sent for it. The layers below the web framework ask here, never getenv, for a
// request's variables, and learn here that a new request began (to look again at files they
// keep between requests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace shelfra {

// Starts request number RequestNumber() + 1 with `variables`, a null-terminated array of
// "NAME=value" texts that must outlive the request (nullptr: the process's environment), and
// runs the request-start hooks, earliest registration first. A hook that raises is not
// stopped: the exception reaches the caller, which answers the request with its 500 page.
void BeginRequest(char** variables);
// Ends the request: its variables are forgotten (the process's environment again).
void EndRequest();

// 0 before the first request; one more for every BeginRequest.
uint64_t RequestNumber();

// The request's value of the CGI variable `name`; nullptr when it has none. Outside a
// request, the process's environment.
const char* RequestVariable(std::string_view name);
// The request's value of `name` when it has a non-empty one, else the process environment's
// when that is non-empty, else nullptr: for settings a web server may pass either way (the
// host configuration's path).
const char* RequestOrProcessVariable(std::string_view name);

// Runs at every BeginRequest. For the layers that keep files open between requests.
void AddRequestStartHook(std::function<void()> hook);

// Runs in a process the program starts to work on alone (the detached index build), right
// after it is made: closes what belongs to the parent's requests (the FastCGI sockets) and
// sends the log back to standard error.
void AddDetachHook(std::function<void()> hook);
void RunDetachHooks();

}  // namespace shelfra
