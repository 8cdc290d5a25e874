// The JSON interface, version 1, for other systems (docs/api.md):
//   /api/v1/search?...      one page of a search: the parameters of /search
//   /api/v1/book/<number>   one book, every field its page shows
//   /api/v1/isbn/<isbn>     every copy with that ISBN (ISBN-10 or ISBN-13, hyphens or not)
// Every answer is UTF-8 JSON with Access-Control-Allow-Origin: * (the data is public and
// read-only); an error is {"error": {"status", "code", "message"}} with its status. GET and
// HEAD; OPTIONS answers a browser's preflight; other methods 405.
#pragma once

#include <string_view>

#include "opac/answer.h"
#include "opac/request.h"

namespace shelfra::opac {

// True for the addresses of the interface: "/api" and everything under "/api/".
bool IsApiPath(std::string_view path);

// The interface's answer to `request` (IsApiPath(request.path)). Raises what the catalogue
// layer raises when the catalogue cannot be read (the caller answers ApiError 500).
Answer ServeApi(const Request& request);

// An error answer of the interface: status `status`, a stable `code` ("bad_request",
// "not_found", ...) and a message for people.
Answer ApiError(int status, std::string_view code, std::string_view message);

}  // namespace shelfra::opac
