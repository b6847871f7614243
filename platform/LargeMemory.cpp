#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace orvale::platform {

std::size_t LargeMemoryLength(std::size_t bytes) {
    return (bytes + kLargePageSize - 1) / kLargePageSize * kLargePageSize;
}

void* MapLargeMemory(std::size_t bytes) {
    const std::size_t length = LargeMemoryLength(bytes);
    if (length == 0) return nullptr;
    // One large page more than needed, so that an aligned start lies inside;
    // the unaligned head and the surplus tail go back at once.
    const std::size_t mapped = length + kLargePageSize;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto* const base = static_cast<char*>(raw);
    const std::size_t head =
        (kLargePageSize - reinterpret_cast<std::uintptr_t>(raw) % kLargePageSize) % kLargePageSize;
    char* const memory = base + head;
    if (head > 0) ::munmap(base, head);
    if (const std::size_t tail = mapped - head - length; tail > 0) {
        ::munmap(memory + length, tail);
    }
    // Only advice: without huge pages the memory is still usable.
    ::madvise(memory, length, MADV_HUGEPAGE);
    return memory;
}

void UnmapLargeMemory(void* memory, std::size_t bytes) {
    if (memory != nullptr) ::munmap(memory, LargeMemoryLength(bytes));
}

}  // namespace orvale::platform
