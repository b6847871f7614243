#include "recorder/recording/VideoTracks.h"

namespace orvale::recorder {
namespace {

// A slot holds (second << 24) | track; 0 is an empty slot (no track is 0).
constexpr int kTrackBits = 24;
constexpr uint64_t kTrackMask = (uint64_t{1} << kTrackBits) - 1;
// Storable times end with the year 9999, well below 2^40 seconds.
constexpr int64_t kSecondLimit = int64_t{1} << (64 - kTrackBits);

size_t SlotOf(int64_t second) {
    return static_cast<size_t>(second) % VideoTracks::kSeconds;
}

}  // namespace

void VideoTracks::Note(int64_t second, int32_t trackId) {
    if (second < 0 || second >= kSecondLimit || trackId <= 0 ||
        static_cast<uint64_t>(trackId) > kTrackMask) {
        return;
    }
    const uint64_t packed =
        (static_cast<uint64_t>(second) << kTrackBits) | static_cast<uint64_t>(trackId);
    slots_[SlotOf(second)].store(packed, std::memory_order_relaxed);
}

std::optional<int32_t> VideoTracks::TrackOf(int64_t second) const {
    if (second < 0 || second >= kSecondLimit) return std::nullopt;
    const uint64_t packed = slots_[SlotOf(second)].load(std::memory_order_relaxed);
    if (packed == 0 || static_cast<int64_t>(packed >> kTrackBits) != second) return std::nullopt;
    return static_cast<int32_t>(packed & kTrackMask);
}

}  // namespace orvale::recorder
