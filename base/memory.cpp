// Huge-page hints through madvise where the system has them.
#include "base/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace shelfra {

void AdviseHugePages(void* data, size_t size) {
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePage - 1);
  // A refusal (no huge pages configured) changes nothing: the buffer works the same.
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace shelfra
