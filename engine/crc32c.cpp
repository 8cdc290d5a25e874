// CRC-32C: a table-driven version (eight bytes a step) and, on x86-64 processors with SSE4.2,
// the CRC32 instruction over three stripes at once; both give the same values.
#include "engine/crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace shelfra {

namespace {

constexpr uint32_t kPolynomial = 0x82F63B78u;  // reflected Castagnoli polynomial

constexpr std::array<std::array<uint32_t, 256>, 8> MakeTables() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  }
  return t;
}

constexpr auto kTables = MakeTables();

uint32_t Portable(const unsigned char* p, size_t size, uint32_t crc) {
  while (size >= 8) {
    uint32_t lo;
    uint32_t hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    lo ^= crc;
    crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
          kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
          kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF];
  return crc;
}

#if defined(__x86_64__)
// The instruction takes three cycles and can start one every cycle, so three stripes of a
// buffer are summed at once and then joined: the register after a stripe of zero bytes is a
// linear function of the register before, looked up a byte at a time. Three stripes of this
// many bytes make one round; a block of 512 bytes is one round and a tail.
constexpr size_t kStripe = 168;

struct StripeShift {
  std::array<std::array<uint32_t, 256>, 4> by_byte{};
  uint32_t operator()(uint32_t c) const {
    return by_byte[0][c & 0xFF] ^ by_byte[1][(c >> 8) & 0xFF] ^ by_byte[2][(c >> 16) & 0xFF] ^ by_byte[3][c >> 24];
  }
};

const StripeShift& Shift() {
  static const StripeShift shift = [] {
    StripeShift s;
    uint32_t bit_image[32];  // each register bit through kStripe zero bytes
    for (int bit = 0; bit < 32; ++bit) {
      uint32_t c = uint32_t{1} << bit;
      for (size_t k = 0; k < kStripe; ++k) c = (c >> 8) ^ kTables[0][c & 0xFF];
      bit_image[bit] = c;
    }
    for (int byte = 0; byte < 4; ++byte) {
      for (uint32_t v = 0; v < 256; ++v) {
        uint32_t image = 0;
        for (int b = 0; b < 8; ++b) {
          if ((v >> b & 1) != 0) image ^= bit_image[8 * byte + b];
        }
        s.by_byte[static_cast<size_t>(byte)][v] = image;
      }
    }
    return s;
  }();
  return shift;
}

__attribute__((target("sse4.2"))) uint32_t Hardware(const unsigned char* p, size_t size, uint32_t crc) {
  uint64_t c = crc;
  if (size >= 3 * kStripe) {
    const StripeShift& shift = Shift();
    while (size >= 3 * kStripe) {
      uint64_t a = c, b = 0, d = 0;
      for (size_t i = 0; i < kStripe; i += 8) {
        uint64_t va, vb, vd;
        std::memcpy(&va, p + i, 8);
        std::memcpy(&vb, p + kStripe + i, 8);
        std::memcpy(&vd, p + 2 * kStripe + i, 8);
        a = _mm_crc32_u64(a, va);
        b = _mm_crc32_u64(b, vb);
        d = _mm_crc32_u64(d, vd);
      }
      c = shift(shift(static_cast<uint32_t>(a)) ^ static_cast<uint32_t>(b)) ^ static_cast<uint32_t>(d);
      p += 3 * kStripe;
      size -= 3 * kStripe;
    }
  }
  while (size >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    c = _mm_crc32_u64(c, v);
    p += 8;
    size -= 8;
  }
  uint32_t c32 = static_cast<uint32_t>(c);
  while (size-- > 0) c32 = _mm_crc32_u8(c32, *p++);
  return c32;
}

bool HasHardware() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}
#endif

}  // namespace

uint32_t Crc32c(const void* data, size_t size, uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
#if defined(__x86_64__)
  if (HasHardware()) return ~Hardware(p, size, crc);
#endif
  return ~Portable(p, size, crc);
}

uint32_t Crc32cPortable(const void* data, size_t size, uint32_t crc) {
  return ~Portable(static_cast<const unsigned char*>(data), size, ~crc);
}

}  // namespace shelfra
