#include "rules/Tracker.h"

#include <algorithm>
#include <iterator>

namespace orvale::rules {
namespace {

constexpr int64_t kSmallArea = 15;
constexpr int32_t kYoungAge = 19;
constexpr int64_t kMergeGap = 6;

uint64_t TrackBit(int32_t trackNumber) {
    return uint64_t{1} << (trackNumber - 1);
}

// Young or tiny boxes are matched with some slack, capped at the picture:
// the cap wins over the box, so an edge at or beyond the picture's last row
// or column is pulled in to it (a box beyond the edge may come out empty,
// and then overlaps nothing).
GridBox Widened(const Blob& blob) {
    if (Area(blob.box) >= kSmallArea && blob.age >= kYoungAge) return blob.box;
    const GridBox& box = blob.box;
    return GridBox{std::max(box.x1 - 3, 0), std::max(box.y1 - 2, 0),
                   std::min(box.x2 + 3, kGridWidth - 1), std::min(box.y2 + 2, kGridHeight - 1)};
}

// Boxes lie within the grid limit, so the product stays below 2^27.
int32_t Overlap(const GridBox& a, const GridBox& b) {
    const int32_t width = std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
    const int32_t height = std::min(a.y2, b.y2) - std::max(a.y1, b.y1);
    return std::max(width, 0) * std::max(height, 0);
}

// Cells of 32 x 32 units over the grid and a little beyond; a coordinate
// outside falls into the nearest cell, which keeps the mapping monotonic: the
// cells of [a, b] hold every box starting there.
constexpr int32_t kCellColumns = 11;
constexpr int32_t kCellRows = 8;
constexpr int32_t kCells = kCellColumns * kCellRows;

int32_t CellColumn(int32_t x) {
    return std::clamp(x >> 5, 0, kCellColumns - 1);
}
int32_t CellRow(int32_t y) {
    return std::clamp(y >> 5, 0, kCellRows - 1);
}
int32_t Cell(int32_t column, int32_t row) {
    return row * kCellColumns + column;
}

// Two blobs of a split that touch or nearly touch, one of them tiny.
bool MergeCandidates(const GridBox& earlier, const GridBox& later) {
    const int64_t dx = int64_t{std::min(earlier.x2, later.x2)} - earlier.x1;
    const int64_t dy = int64_t{std::min(earlier.y2, later.y2)} - earlier.y1;
    int64_t gap = 0;
    if (dx < 0 && dy > 0) {
        gap = -dx;
    } else if (dy < 0 && dx > 0) {
        gap = -dy;
    } else if (dx < 0 && dy < 0) {
        gap = dx * dx + dy * dy;
    }
    const bool near = (dx > 0 && dy > 0) || gap < kMergeGap;
    return near && (Area(earlier) < kSmallArea || Area(later) < kSmallArea);
}

GridBox Span(const GridBox& a, const GridBox& b) {
    return GridBox{std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2),
                   std::max(a.y2, b.y2)};
}

}  // namespace

void Tracker::Reset() {
    lists_[0].count = 0;
    lists_[1].count = 0;
    current_ = 0;
    newTracks_ = 0;
}

bool Tracker::Track(const FrameBox* boxes, int32_t count) {
    newTracks_ = 0;
    BuildCurrent(boxes, count);
    if (Previous().count == 0) {
        const BlobList& seeded = Current();
        for (int32_t i = 0; i < seeded.count; ++i)
            newTracks_ |= TrackBit(seeded.blobs[i].trackNumber);
        return false;
    }
    Match();
    return true;
}

void Tracker::BuildCurrent(const FrameBox* boxes, int32_t count) {
    BlobList& list = Current();
    list.count = 0;
    for (int32_t i = 0; i < count && list.count < kMaxBlobs; ++i) {
        const GridBox& box = boxes[i].box;
        const int64_t width = int64_t{box.x2} - box.x1;
        const int64_t height = int64_t{box.y2} - box.y1;
        if (width < 0 || width > kGridWidth || height < 0 || height > kGridHeight) continue;
        Blob& blob = list.blobs[list.count];
        blob = Blob{};
        blob.box = box;
        blob.trackNumber = list.count + 1;
        blob.frameIndex = boxes[i].frameIndex;
        ++list.count;
    }
}

void Tracker::Match() {
    const BlobList& previous = Previous();
    BlobList& current = Current();
    const int32_t previousCount = previous.count;
    const int32_t currentCount = current.count;
    // Only boxes that meet can overlap: the current blobs are filed by the
    // 32 x 32 cell of their top-left corner, and each previous box looks only
    // at the cells that a box meeting it can start in. All other overlaps are
    // 0, and most frames have few boxes near each other.
    int32_t widest = 0;
    int32_t tallest = 0;
    int32_t cellStart[kCells + 1] = {};
    for (int32_t c = 0; c < currentCount; ++c) {
        const GridBox& box = current.blobs[c].box;
        widest = std::max(widest, box.x2 - box.x1);
        tallest = std::max(tallest, box.y2 - box.y1);
        ++cellStart[Cell(CellColumn(box.x1), CellRow(box.y1)) + 1];
        choice_[c] = -1;
        merged_[c] = false;
    }
    for (int32_t k = 0; k < kCells; ++k) cellStart[k + 1] += cellStart[k];
    int32_t filed[kMaxBlobs];
    int32_t next[kCells];
    std::copy(cellStart, cellStart + kCells, next);
    for (int32_t c = 0; c < currentCount; ++c) {
        const GridBox& box = current.blobs[c].box;
        filed[next[Cell(CellColumn(box.x1), CellRow(box.y1))]++] = c;
    }

    int32_t best[kMaxBlobs] = {};
    bool overlapsAny[kMaxBlobs] = {};
    for (int32_t p = 0; p < previousCount; ++p) {
        const GridBox w = Widened(previous.blobs[p]);
        widened_[p] = w;
        const int32_t firstColumn = CellColumn(w.x1 - widest);
        const int32_t lastColumn = CellColumn(w.x2 - 1);
        const int32_t lastRow = CellRow(w.y2 - 1);
        for (int32_t r = CellRow(w.y1 - tallest); r <= lastRow; ++r) {
            const int32_t end = cellStart[Cell(lastColumn, r) + 1];
            for (int32_t k = cellStart[Cell(firstColumn, r)]; k < end; ++k) {
                const int32_t c = filed[k];
                const int32_t overlap = Overlap(w, current.blobs[c].box);
                overlapsAny[p] = overlapsAny[p] || overlap > 0;
                // Each current blob takes the previous blob it overlaps most,
                // the first one on a tie.
                if (overlap > best[c]) {
                    best[c] = overlap;
                    choice_[c] = p;
                }
            }
        }
        choosers_[p] = 0;
    }
    for (int32_t c = 0; c < currentCount; ++c) {
        if (choice_[c] >= 0) ++choosers_[choice_[c]];
    }

    std::fill(std::begin(numbers_), std::end(numbers_), Number::kFree);
    for (int32_t p = 0; p < previous.count; ++p) {
        const int32_t number = previous.blobs[p].trackNumber;
        notFollowed_[p] = false;
        if (choosers_[p] > 0) {
            numbers_[number] = Number::kInUse;
            continue;
        }
        numbers_[number] = Number::kReleased;
        notFollowed_[p] = overlapsAny[p];
    }

    for (int32_t c = 0; c < current.count; ++c) {
        if (choice_[c] >= 0) Follow(current.blobs[c], previous.blobs[choice_[c]]);
    }
    for (int32_t c = 0; c < current.count; ++c) {
        if (choice_[c] < 0) StartTrack(current.blobs[c]);
    }
    for (int32_t p = 0; p < previous.count; ++p) {
        if (choosers_[p] > 1) ResolveSplit(p);
    }
    RemoveMerged();
}

void Tracker::ResolveSplit(int32_t previousIndex) {
    const BlobList& previous = Previous();
    BlobList& current = Current();
    int32_t group[kMaxBlobs];
    int32_t size = 0;
    for (int32_t c = 0; c < current.count; ++c) {
        if (choice_[c] == previousIndex) group[size++] = c;
    }

    bool marked[kMaxBlobs] = {};
    bool anyMarked = false;
    for (int32_t i = 0; i < size; ++i) {
        for (int32_t j = i + 1; j < size; ++j) {
            if (MergeCandidates(current.blobs[group[i]].box, current.blobs[group[j]].box)) {
                marked[i] = marked[j] = true;
                anyMarked = true;
            }
        }
    }
    if (anyMarked) {
        // The marked blobs become one: the one overlapping the track most, grown
        // over all of them. The group then holds it and the unmarked blobs.
        int32_t keeper = -1;
        GridBox span;
        for (int32_t i = 0; i < size; ++i) {
            if (!marked[i]) continue;
            const int32_t c = group[i];
            if (keeper < 0) {
                span = current.blobs[c].box;
            } else {
                span = Span(span, current.blobs[c].box);
            }
            if (keeper < 0 || OverlapOf(previousIndex, c) > OverlapOf(previousIndex, keeper)) {
                keeper = c;
            }
        }
        current.blobs[keeper].box = span;  // its overlaps follow from here on
        int32_t kept = 0;
        for (int32_t i = 0; i < size; ++i) {
            if (marked[i] && group[i] != keeper) {
                merged_[group[i]] = true;
            } else {
                group[kept++] = group[i];
            }
        }
        size = kept;
    }
    if (size < 2) return;

    int32_t owner = group[0];
    for (int32_t i = 1; i < size; ++i) {
        if (OverlapOf(previousIndex, group[i]) > OverlapOf(previousIndex, owner)) owner = group[i];
    }
    for (int32_t i = 0; i < size; ++i) {
        const int32_t c = group[i];
        if (c == owner) continue;
        int32_t taken = -1;
        int32_t most = 0;
        for (int32_t p = 0; p < previous.count; ++p) {
            if (!notFollowed_[p]) continue;
            const int32_t overlap = OverlapOf(p, c);
            if (overlap > most) {
                most = overlap;
                taken = p;
            }
        }
        if (taken < 0) {
            StartTrack(current.blobs[c]);
            continue;
        }
        Follow(current.blobs[c], previous.blobs[taken]);
        numbers_[previous.blobs[taken].trackNumber] = Number::kInUse;
        notFollowed_[taken] = false;
    }
}

int32_t Tracker::OverlapOf(int32_t previousIndex, int32_t currentIndex) const {
    return Overlap(widened_[previousIndex], lists_[current_].blobs[currentIndex].box);
}

void Tracker::Follow(Blob& blob, const Blob& previous) {
    blob.trackNumber = previous.trackNumber;
    blob.hold = previous.hold;
    if (previous.age < kNewTrackAge) {
        blob.age = kConfirmedAge;
    } else if (previous.age < kConfirmedAge) {
        blob.age = previous.age + 1;
    } else {
        blob.age = previous.age;
    }
    blob.previous = previous.box;
}

void Tracker::StartTrack(Blob& blob) {
    const int32_t number = LowestFreeNumber();
    numbers_[number] = Number::kInUse;
    newTracks_ |= TrackBit(number);
    blob.trackNumber = number;
    blob.age = kNewTrackAge;
    blob.previous = GridBox{};
    blob.hold = 0;
}

// Numbers released in this frame are reused only when no other is left.
int32_t Tracker::LowestFreeNumber() const {
    for (int32_t n = 1; n <= kMaxTrackNumber; ++n) {
        if (numbers_[n] == Number::kFree) return n;
    }
    for (int32_t n = 1; n <= kMaxTrackNumber; ++n) {
        if (numbers_[n] != Number::kInUse) return n;
    }
    return kMaxTrackNumber;
}

void Tracker::RemoveMerged() {
    BlobList& current = Current();
    int32_t kept = 0;
    for (int32_t c = 0; c < current.count; ++c) {
        if (merged_[c]) continue;
        if (kept != c) current.blobs[kept] = current.blobs[c];
        ++kept;
    }
    current.count = kept;
}

}  // namespace orvale::rules
