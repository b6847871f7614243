// Memory for large transfer buffers, mapped straight from the system in
// whole large-page units (2 MiB) whose start is aligned to one, and marked
// for transparent huge pages where the system offers them. A huge page is
// populated by one fault instead of 512, which matters where faults are
// expensive (virtual machines). Where huge pages are off, the memory is
// ordinary pages with the same alignment. The caller owns what it maps and
// gives it back with the same length.
#pragma once

#include <cstddef>

namespace orvale::platform {

inline constexpr std::size_t kLargePageSize = std::size_t{2} * 1024 * 1024;

// `bytes` rounded up to whole large pages.
std::size_t LargeMemoryLength(std::size_t bytes);
// Maps LargeMemoryLength(bytes) bytes of zeroed memory aligned to a large
// page; nullptr when the system refuses.
void* MapLargeMemory(std::size_t bytes);
// Returns memory from MapLargeMemory(bytes); nullptr is ignored.
void UnmapLargeMemory(void* memory, std::size_t bytes);

}  // namespace orvale::platform
