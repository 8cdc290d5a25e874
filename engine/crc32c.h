// CRC-32C (Castagnoli), the checksum of the search index's blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shelfra {

// The CRC-32C of `size` bytes at `data`, continuing from `crc` (0 to start). Uses the
// processor's CRC instruction where there is one.
uint32_t Crc32c(const void* data, size_t size, uint32_t crc = 0);
// The same by the table alone, whatever the processor has (for tests, which compare the two).
uint32_t Crc32cPortable(const void* data, size_t size, uint32_t crc = 0);

}  // namespace shelfra
