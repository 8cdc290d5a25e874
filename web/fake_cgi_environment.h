// FakeCgiEnvironment: an in-memory CGI environment for tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "web/cgi_environment.h"

namespace shelfra {

class FakeCgiEnvironment : public CgiEnvironment {
 public:
  std::map<std::string, std::string> variables;  // unset names read as empty
  std::string input;                              // request content
  size_t input_read = 0;
  std::vector<size_t> read_requests;              // the counts asked for, in order
  std::vector<std::string> writes;                // each write, in order

  std::string Variable(std::string_view name) override;
  long ReadContent(char* buffer, size_t count) override;
  long Write(std::string_view bytes) override;
  // All writes joined.
  std::string Output() const;
};

}  // namespace shelfra
