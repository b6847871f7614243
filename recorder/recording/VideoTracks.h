// Which track the video of each recent second went to, so that the metadata
// of a second is stored beside its video even when the two arrive apart (a
// track change takes effect at the next key frame, and metadata of a second
// may come before or long after its video).
//
// A fixed ring of one slot per second (the second and its track packed in
// one atomic word), so that frame input notes a second without a lock and a
// writing job may look one up at the same time. Seconds fall out of the ring
// after kSeconds newer ones; a second not in it is unknown.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace orvale::recorder {

class VideoTracks {
  public:
    static constexpr size_t kSeconds = 4096;

    // The video of `second` went to `trackId`. Tracks outside 1..0xFFFFFF
    // and times before 1970 are not noted.
    void Note(int64_t second, int32_t trackId);
    // The track of the video of `second`; empty when the ring does not know it.
    std::optional<int32_t> TrackOf(int64_t second) const;

  private:
    std::array<std::atomic<uint64_t>, kSeconds> slots_{};
};

}  // namespace orvale::recorder
