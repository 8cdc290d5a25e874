// The floor of any request: a trivial C++ CGI program, built and linked as the catalogue
// program is (the bench_trivial_cgi target), that reads its query from the environment and
// writes a header block and a small page of about the search form's size through the C++
// runtime.
#include <unistd.h>

#include <cstdlib>
#include <string>

int main() {
  const char* query = std::getenv("QUERY_STRING");
  std::string page = "<HTML><HEAD><TITLE>trivial</TITLE></HEAD><BODY>\r\n<P>query of ";
  page += std::to_string(query != nullptr ? std::string(query).size() : 0);
  page += " bytes</P>\r\n";
  while (page.size() < 5000) page += "<P>The floor of a request: start, read the environment, write a page.</P>\r\n";
  page += "</BODY></HTML>";
  std::string out = "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
                    "\r\n\r\n" + page;
  for (size_t done = 0; done < out.size();) {
    const ssize_t n = ::write(1, out.data() + done, out.size() - done);
    if (n <= 0) return 1;
    done += static_cast<size_t>(n);
  }
  return 0;
}
