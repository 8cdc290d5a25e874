// The codings of the search index file: hashes, folded texts, varints and record lists.
#include "engine/index_format.h"

#include <cstdlib>

namespace shelfra {

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string FullPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out(real);
  std::free(real);
  return out;
}

void AppendFolded(std::string_view text, std::string& out) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p != end) {
    FoldedChar c = fold.Next(p, end);
    KanaFold::AppendCode(c.code, out);
    p += c.width;
  }
}

void AppendVarint(uint32_t value, std::string& out) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

const unsigned char* DecodeVarint(const unsigned char* p, const unsigned char* end, uint32_t& value) {
  value = 0;
  for (int shift = 0; shift <= 28; shift += 7) {
    if (p == end) return nullptr;
    const unsigned char b = *p++;
    value |= static_cast<uint32_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return p;
  }
  return nullptr;
}

void PostingCursor::Advance() {
  uint32_t delta = 0;
  const unsigned char* next = left_ == 0 ? nullptr : DecodeVarint(p_, end_, delta);
  if (next == nullptr) {
    done_ = true;  // the count reached, or a list cut short: nothing more to trust
    return;
  }
  p_ = next;
  value_ = started_ ? value_ + delta : delta;
  started_ = true;
  --left_;
}

}  // namespace shelfra
