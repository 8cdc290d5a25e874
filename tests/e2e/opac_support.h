// What the whole-program tests of shelfra.cgi share: running it over a fixture catalogue as a
// web server would, and reading its answers.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"

namespace shelfra::testing {

// UTF-8 percent-escaped, as a browser sends a UTF-8 form.
std::string Utf8Escape(const std::string& utf8);

// shelfra.cgi's answer to `method` `path`?`query` over `catalogue`, as /cgi-bin/shelfra.cgi,
// with the extra CGI variables `headers` (HTTP_IF_NONE_MATCH, ...).
CgiResult RunShelfra(const CatalogueFixture& catalogue, std::string_view method, std::string_view path,
                     std::string_view query, const std::map<std::string, std::string>& headers = {});

// The body of a CGI answer: what follows its header block.
std::string Body(const CgiResult& r);

// The registration numbers a page links to, in order: "/book/N" on shelfra.cgi's pages,
// "Detail?NO=N" on vovivavi.exe's (`before` is the text in front of the number).
std::vector<std::string> Numbers(const std::string& page, const std::string& before);

}  // namespace shelfra::testing
