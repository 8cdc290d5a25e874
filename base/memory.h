// Hints to the system about how the program's own large buffers are used.
#pragma once

#include <cstddef>

namespace shelfra {

// Asks for the buffer [data, data + size) to be backed by huge pages where the system offers
// them on request: a page of megabytes is then faulted in a few steps rather than in
// thousands of 4 KiB ones. Only the huge-page-aligned part of the buffer is affected; buffers
// too small to hold one are left alone, as is everything where the hint is not known. The
// contents and the memory the buffer holds stay as they are.
void AdviseHugePages(void* data, size_t size);

}  // namespace shelfra
