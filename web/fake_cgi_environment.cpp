// In-memory CGI environment.
#include "web/fake_cgi_environment.h"

#include <algorithm>
#include <cstring>

namespace shelfra {

std::string FakeCgiEnvironment::Variable(std::string_view name) {
  auto it = variables.find(std::string(name));
  return it == variables.end() ? std::string() : it->second;
}

long FakeCgiEnvironment::ReadContent(char* buffer, size_t count) {
  read_requests.push_back(count);
  size_t n = std::min(count, input.size() - input_read);
  std::memcpy(buffer, input.data() + input_read, n);
  input_read += n;
  return static_cast<long>(n);
}

long FakeCgiEnvironment::Write(std::string_view bytes) {
  writes.emplace_back(bytes);
  return static_cast<long>(bytes.size());
}

std::string FakeCgiEnvironment::Output() const {
  std::string out;
  for (const std::string& w : writes) out += w;
  return out;
}

}  // namespace shelfra
