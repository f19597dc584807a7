// The large blocks of a run's memory, from the operating system: on Linux
// mapped at a 2 MiB boundary and offered transparent huge pages; elsewhere
// (Windows, macOS, the web page) from calloc. Part of the operating system
// seam (os/os.h), kept apart because the web page builds it too.
#pragma once

#include <cstddef>

namespace kovrel {
namespace os {

// Zeroed memory for bytes bytes (one byte at least); throws std::bad_alloc
// when the system refuses (a build without exceptions stops).
void* allocateBlock(std::size_t bytes);

// Gives back a block allocateBlock made for the same number of bytes.
void releaseBlock(void* block, std::size_t bytes);

}  // namespace os
}  // namespace kovrel
