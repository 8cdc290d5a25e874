// UTF-8 <-> cp932 through glibc iconv, for tests only.
#include "tests/support/sjis.h"

#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace shelfra::testing {

namespace {
std::string Convert(std::string_view in, const char* to, const char* from, bool lenient) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::fprintf(stderr, "iconv_open(%s, %s) failed\n", to, from);
    std::abort();
  }
  std::string out;
  std::vector<char> buf(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  while (src_left > 0) {
    char* dst = buf.data();
    size_t dst_left = buf.size();
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
    if (r == static_cast<size_t>(-1)) {
      if (!lenient) {
        std::fprintf(stderr, "cannot convert %.*s\n", static_cast<int>(in.size()), in.data());
        std::abort();
      }
      out.push_back('?');
      ++src;
      --src_left;
    }
  }
  iconv_close(cd);
  return out;
}
}  // namespace

std::string Sjis(std::string_view utf8) { return Convert(utf8, "CP932", "UTF-8", false); }
std::string Utf8(std::string_view sjis) { return Convert(sjis, "UTF-8", "CP932", true); }

}  // namespace shelfra::testing
