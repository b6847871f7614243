// Copies frame bytes that go to the disk and are not read by the CPU again.
//
// A recorder copies every pushed frame once, into a write buffer that the
// drive then reads by DMA. An ordinary copy first reads each destination
// cache line (to own it) and leaves the line in the cache, where it pushes
// out what the other channels need; streaming stores skip both. Streaming
// stores are weakly ordered, so the copy ends with a store fence: whoever
// hands the buffer to another thread after the copy publishes every byte.
//
// Small copies (record headers, audio frames) go through memcpy, which is
// faster for them and keeps a header's line in the cache for the frame bytes
// written right behind it.
#pragma once

#include <cstddef>

namespace orvale::recorder {

// From this many bytes on, StreamCopy uses streaming stores.
inline constexpr size_t kStreamCopyThreshold = 2048;

// Copies `size` bytes from `source` to `target` (the ranges must not
// overlap), as memcpy does; any alignment.
void StreamCopy(void* target, const void* source, size_t size);

}  // namespace orvale::recorder
