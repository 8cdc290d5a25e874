// The UTF-8 front: one request in, one answer out. Addresses after the script name:
//   /                 the search page
//   /search?...       the result list (q, title, author, keyword, class, sort, page, per)
//   /book/<number>    one book, by its registration number
//   /style.css        the stylesheet
//   /opensearch.xml   the OpenSearch description of the searches (opac/discovery.h)
//   /search.atom?...  the result list as an Atom feed (opac/feeds.h)
//   /new, /new.atom   the newest books by registration date, as a page and as a feed (page, per)
//   /api/v1/...       the JSON interface (opac/api.h)
//   /oai?verb=...     the harvesting interface, OAI-PMH 2.0 (opac/oai.h; POST of a form too)
// GET and HEAD only (405 otherwise; the JSON interface also answers OPTIONS, the harvesting
// interface POST); unknown addresses and books 404; malformed parameters 400.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "opac/answer.h"
#include "opac/request.h"

namespace shelfra::opac {


// The answer to `request`, whose query did parse (see ParseQuery). Raises what the catalogue
// layer raises (EDBEngineError, EDatabaseError, EConvertError) when the catalogue cannot be
// read; input alone never makes it raise. Every answer carries the catalogue's validators
// (ETag, Last-Modified; see CatalogueValidators) and a 200 whose validators the request's
// If-None-Match or If-Modified-Since names is a 304 with no body.
Answer Serve(const Request& request);

// The answer to a request for `path` whose query string is malformed.
Answer BadRequest(std::string_view script_name, std::string_view path);
// The same for `request` (its parameters unread): the harvesting interface's badArgument
// response at /oai, BadRequest anywhere else.
Answer BadQuery(const Request& request);

// The friendly 500 page for a request for `path`, naming `reference`, which the error log's
// line of the failure carries.
Answer ServerError(std::string_view script_name, std::string_view path, std::string_view reference);

// The CGI form of `answer`: the "Status:" line, the content type, the security headers, the
// answer's own headers and Content-Length, a blank line, then the body unless `head`; a 304 is
// its "Status:" line and the answer's own headers only. Lines end in CR LF.
std::string CgiText(const Answer& answer, bool head);

}  // namespace shelfra::opac
