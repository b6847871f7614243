// Follows object boxes from frame to frame as tracks with stable numbers
// (1..64), ages and confirmation.
//
// Each frame's boxes become the current blob list; after the rules have seen
// it, EndFrame() makes it the previous list. A frame after an empty one (and
// the first after Reset) only seeds: its blobs keep age 0 and are confirmed at
// their first match. Otherwise every current blob takes the previous blob it
// overlaps most; a new track starts at age 20 and is confirmed at 25, five
// matched frames later. Splits (several blobs on one previous blob) keep the
// track on the blob that overlaps most, merge tiny neighbours, and hand the
// rest to previous tracks that nobody followed or to new tracks.
//
// Fixed tables only: a frame step allocates nothing.
#pragma once

#include <cstdint>

#include "rules/Grid.h"

namespace orvale::rules {

inline constexpr int32_t kMaxBlobs = 64;
inline constexpr int32_t kNewTrackAge = 20;
inline constexpr int32_t kConfirmedAge = 25;
inline constexpr int32_t kEventHold = 30;
inline constexpr int32_t kMaxTrackNumber = 64;
inline constexpr int32_t kTrackStates = kMaxTrackNumber + 1;  // indexed by track number

struct Blob {
    int32_t age = 0;
    GridBox box;
    GridBox previous;  // the track's box in the previous frame; all 0 for a new track
    int32_t trackNumber = 0;
    int32_t hold = 0;        // set to kEventHold when the track fires
    int32_t frameIndex = 0;  // the object's own index in its frame

    bool Confirmed() const { return age >= kConfirmedAge; }
};

struct BlobList {
    int32_t count = 0;
    Blob blobs[kMaxBlobs];
};

// One box of a frame, with the index of its object in that frame.
struct FrameBox {
    GridBox box;
    int32_t frameIndex = 0;
};

class Tracker {
  public:
    void Reset();

    // Builds the current list from the boxes in frame order (boxes wider than
    // the grid, or of negative size, are left out) and matches it against the
    // previous list. False when the frame only seeds tracking: the rules are
    // then not evaluated.
    bool Track(const FrameBox* boxes, int32_t count);

    BlobList& Current() { return lists_[current_]; }
    const BlobList& Previous() const { return lists_[1 - current_]; }

    // Bit n - 1 is set for every track number n that the last Track() gave to
    // a new track (seeded blobs included).
    uint64_t NewTracks() const { return newTracks_; }

    void EndFrame() { current_ = 1 - current_; }

  private:
    enum class Number : uint8_t { kFree, kInUse, kReleased };

    void BuildCurrent(const FrameBox* boxes, int32_t count);
    void Match();
    void ResolveSplit(int32_t previousIndex);
    // Of the previous blob's widened box and the current blob's box as it is now.
    int32_t OverlapOf(int32_t previousIndex, int32_t currentIndex) const;
    void Follow(Blob& blob, const Blob& previous);
    void StartTrack(Blob& blob);
    int32_t LowestFreeNumber() const;
    void RemoveMerged();

    BlobList lists_[2];
    int32_t current_ = 0;
    uint64_t newTracks_ = 0;

    // Working tables of one Match().
    GridBox widened_[kMaxBlobs] = {};   // previous boxes as used for the overlap
    int32_t choice_[kMaxBlobs] = {};    // previous blob each current blob took, or -1
    int32_t choosers_[kMaxBlobs] = {};  // how many current blobs took each previous one
    bool notFollowed_[kMaxBlobs] = {};  // overlapped by a current blob, taken by none
    bool merged_[kMaxBlobs] = {};       // current blobs merged into another one
    Number numbers_[kTrackStates] = {};
};

}  // namespace orvale::rules
