// Fuzz target: the CGI request from hostile input - method, path and query string split into
// fields and percent-decoded, the name-value lookups of the handlers, and the action paths.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "base/exceptions.h"
#include "base/strings.h"
#include "fuzz/fuzz_support.h"
#include "web/cgi_environment.h"
#include "web/http_fields.h"
#include "web/path_mask.h"
#include "web/web_request.h"

namespace {

using shelfra::fuzz::ByteReader;

class FuzzEnvironment : public shelfra::CgiEnvironment {
 public:
  std::map<std::string, std::string, std::less<>> variables;
  std::string Variable(std::string_view name) override {
    auto it = variables.find(name);
    return it == variables.end() ? std::string() : it->second;
  }
  long ReadContent(char* /*buffer*/, size_t /*count*/) override { return 0; }
  long Write(std::string_view bytes) override { return static_cast<long>(bytes.size()); }
  void EnsureOpen() override {}
};

// Decoding never lengthens a text, and a text without "%" and "+" comes out unchanged.
void CheckDecode(std::string_view text) {
  std::string out;
  try {
    out = shelfra::DecodeEscapes(text);
  } catch (const shelfra::EConvertError&) {
    if (text.find('%') == std::string_view::npos) std::abort();  // only a "%" can be malformed
    return;
  }
  if (out.size() > text.size()) std::abort();
  if (text.find_first_of("%+") == std::string_view::npos && out != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  FuzzEnvironment env;
  env.variables["REQUEST_METHOD"] = std::string(in.Until('\n'));
  env.variables["PATH_INFO"] = std::string(in.Until('\n'));
  const std::string query(in.Rest());
  env.variables["QUERY_STRING"] = query;

  CheckDecode(query);

  try {
    shelfra::TCGIRequest request(env);
    const shelfra::TStrings& values = request.QueryValues();
    for (const char* name : {"title1", "title2", "title3", "Author", "keyword1", "keyword2", "keyword3", "bunrui",
                             "No", ""}) {
      (void)values.Values(name);
    }
    for (const std::string& line : values) {
      if (line.empty()) std::abort();  // empty pieces add nothing
    }
    (void)request.VariableInteger(shelfra::kRequestMethod);
  } catch (const shelfra::EConvertError&) {
  }

  // The same splitter as the template engine calls it for tag parameters.
  try {
    shelfra::TStrings params;
    shelfra::SplitFields(" ", " ", query, params, true, true);
    for (const std::string& item : params) {
      if (item.find_first_of("\"'") != std::string::npos) std::abort();  // quotes were removed
    }
  } catch (const shelfra::EConvertError&) {
  }

  static const shelfra::PathMask masks[] = {shelfra::PathMask("/Detail"), shelfra::PathMask("/list"),
                                            shelfra::PathMask("*"), shelfra::PathMask("/d*l?[a-z]*[!0-9]")};
  for (const shelfra::PathMask& mask : masks) (void)mask.Matches(env.variables["PATH_INFO"]);
  return 0;
}
