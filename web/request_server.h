// How a program serves its requests: once, as a CGI program started by the web server for
// one request, or many in turn, as a FastCGI responder.
//
// A FastCGI responder is started either by a FastCGI server (spawn-fcgi, a systemd socket
// unit, lighttpd's mod_fastcgi, mod_fcgid), which hands it a listening socket as standard
// input, or by the operator with "--fastcgi ADDRESS": a Unix socket path (created mode 0660;
// an old socket nobody listens on is replaced, any other file is left alone and refused) or
// 127.0.0.1:PORT (a loopback address only: whoever reaches the socket names the
// configuration file a request reads). "--max-requests N" (or SHELFRA_MAX_REQUESTS=N in its
// environment) ends it after N requests, for the server to start a fresh one. SIGTERM,
// SIGINT and SIGHUP end it at once when it waits, after the request's answer when it serves.
//
// Each request is answered exactly as a CGI process would answer it: the handler gets the
// request's variables, content and answer stream; the lines the error log gets while it
// serves go to the request's error stream (the web server's error log). What the handler
// keeps from one request to the next is its own affair (see base/request_context.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "web/cgi_environment.h"

namespace shelfra {

// Serves one request through `environment`. Must not raise; what it raises anyway is logged
// and answered with a bare 500.
using RequestHandler = std::function<void(CgiEnvironment& environment)>;

struct ServeOptions {
  std::string fastcgi_address;  // empty: CGI, unless standard input is a listening socket
  long max_requests = 0;        // 0: no limit
  std::string error;            // set when the command line is wrong
};

// The options of `argv` (after the program's name): "--fastcgi ADDRESS", "--max-requests N",
// then SHELFRA_MAX_REQUESTS from the environment when the line gives no limit. A process the
// web server started as a CGI program (GATEWAY_INTERFACE or REQUEST_METHOD set) takes no
// options at all: a CGI server may pass the words of a query string as arguments.
ServeOptions ReadServeOptions(int argc, char** argv);

// Serves as the options and standard input say; the process's exit code. `program` names the
// program in the error log's lines.
int ServeRequests(const ServeOptions& options, std::string_view program, const RequestHandler& handler);

}  // namespace shelfra
