#include "recorder/store/StreamCopy.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ORVALE_STREAM_STORES 1
#endif

namespace orvale::recorder {

#if defined(ORVALE_STREAM_STORES)
namespace {

// Bytes before `target` reaches an `alignment` boundary, at most `size`.
size_t HeadLength(const uint8_t* target, size_t alignment, size_t size) {
    const size_t misaligned = reinterpret_cast<uintptr_t>(target) & (alignment - 1);
    const size_t head = misaligned == 0 ? 0 : alignment - misaligned;
    return head < size ? head : size;
}

__attribute__((target("avx512f"))) void Stream64(uint8_t* target, const uint8_t* source,
                                                 size_t size) {
    for (; size >= 128; target += 128, source += 128, size -= 128) {
        const __m512i first = _mm512_loadu_si512(source);
        const __m512i second = _mm512_loadu_si512(source + 64);
        _mm512_stream_si512(reinterpret_cast<__m512i*>(target), first);
        _mm512_stream_si512(reinterpret_cast<__m512i*>(target + 64), second);
    }
    std::memcpy(target, source, size);
}

void Stream16(uint8_t* target, const uint8_t* source, size_t size) {
    for (; size >= 64; target += 64, source += 64, size -= 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(target), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + 48), d);
    }
    std::memcpy(target, source, size);
}

}  // namespace

void StreamCopy(void* target, const void* source, size_t size) {
    if (size < kStreamCopyThreshold) {
        std::memcpy(target, source, size);
        return;
    }
    static const bool wide = __builtin_cpu_supports("avx512f") != 0;
    auto* to = static_cast<uint8_t*>(target);
    const auto* from = static_cast<const uint8_t*>(source);
    const size_t alignment = wide ? 64 : 16;
    const size_t head = HeadLength(to, alignment, size);
    std::memcpy(to, from, head);
    if (wide) {
        Stream64(to + head, from + head, size - head);
    } else {
        Stream16(to + head, from + head, size - head);
    }
    _mm_sfence();
}

#else

void StreamCopy(void* target, const void* source, size_t size) {
    std::memcpy(target, source, size);
}

#endif

}  // namespace orvale::recorder
