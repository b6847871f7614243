// The arenas a profile chunk records into, and the hand-over of its finished
// seconds to the owner's writing job.
#include <algorithm>
#include <new>
#include <utility>

#include "recorder/recording/ProfileChunk.h"
#include "recorder/store/AlignedBytes.h"

namespace orvale::recorder {
namespace {

constexpr uint64_t kArenaReserve = WriteBuffer::kFinalizeReserve;

// The seconds of `arena` at the front of `queued` (the first `due` of them
// are due), when that is all of the arena and they share one track and one
// hour; 0 otherwise.
size_t WholeArenaSeconds(const std::vector<std::shared_ptr<FrameBuffer>>& queued, size_t due,
                         const std::shared_ptr<WriteBuffer>& arena) {
    size_t count = 0;
    while (count < queued.size() && queued[count]->Arena() == arena) ++count;
    if (count == 0 || count > due) return 0;
    const second_frame_info_s& first = queued.front()->Summary();
    for (size_t i = 1; i < count; ++i) {
        const second_frame_info_s& info = queued[i]->Summary();
        if (info.trackId != first.trackId ||
            !ProfileChunk::IsSameHour(static_cast<int64_t>(first.firstFrameTime),
                                      static_cast<int64_t>(info.firstFrameTime))) {
            return 0;
        }
    }
    return count;
}

}  // namespace

bool ProfileChunk::DropsAtClose(const FrameBuffer& second) const {
    const second_frame_info_s& info = second.Summary();
    if (info.eventBits != 0) return false;
    // A pre-record walk may still mark it.
    const event_duration_s& durations = decisions_.Durations();
    for (int slot = 0; slot < kSlotContinuous; ++slot) {
        if (durations.slots[slot].preRecTime > 0) return false;
    }
    // So may switching continuous recording back on.
    return decisions_.UseContinuous() ||
           !decisions_.IsScheduledContinuous(static_cast<int64_t>(info.firstFrameTime));
}

// Decides, at the start of a new second, whether the open arena is closed
// and a writing job is worth posting, then lays the new second behind the
// last one.
void ProfileChunk::PlaceSecond(int64_t second) {
    const bool keeping = keepSeconds_ > 0;
    const bool requested = std::exchange(handOverRequested_, false);
    const bool piling = WholeBuffersWaiting() >= 2;
    // The arena being filled never counts two units by itself, so that what
    // waits once the jobs have run counts at most one.
    const uint64_t unit = CountUnit();
    const bool openPiling = unit > 0 && openFill_ >= 2 * unit;
    const bool close =
        open_ && openSeconds_ > 0 &&
        (closeArena_ || ShouldCloseArena(second) || (!keeping && (requested || openPiling)));
    closeArena_ = false;
    if (close) {
        CloseArena();
        RecountWaiting();
    }
    if (close || requested || piling) handOverReady_ = true;

    if (!open_) {
        firstArena_ = averageSecondBytes_ == 0;
        open_ = TakeArena();
        arenaAsked_ = false;
        arenaOpenedAt_ = Now();
    }
    // Seconds that come faster than the clock (a conversion) fill arenas
    // faster than their writes come back: a prepared one would only be a
    // third arena in memory, and nobody there waits for a camera's pace.
    const uint32_t askAfter = firstArena_ ? 1 : kPrepareAfterSeconds;
    if (!arenaAsked_ && openSeconds_ >= askAfter && Now() - arenaOpenedAt_ >= askAfter &&
        writePool_.Size() == 0) {
        arenaAsked_ = true;
        arenaWanted_ = true;
    }
    if (openSeconds_ == 0) {
        openFill_ = 0;
        openFirstSecond_ = second;
        openTrack_ = trackId_;
    }
    current_ = framePool_.PopOrCreate([] { return FrameBuffer::CreateEmpty(); });
    if (!current_) return;
    const uint64_t taken = openFill_ + kArenaReserve;
    const uint64_t capacity = open_->Capacity();
    current_->Place(open_, openFill_, capacity > taken ? capacity - taken : 0);
    current_->GetFrameInfo()->trackId = trackId_;
}

bool ProfileChunk::ShouldCloseArena(int64_t second) const {
    // Seconds of one arena share a track and an hour, as a write buffer must.
    if (trackId_ != openTrack_ || !IsSameHour(openFirstSecond_, second)) return true;
    // Room for one more second like the recent ones, and for the write's pad
    // and end sector, within what an arena for the present rate holds (the
    // first arena is made before the rate is known).
    const uint64_t average = averageSecondBytes_;
    const uint64_t bound = std::min<uint64_t>(open_->Capacity(), ArenaCapacity());
    return openFill_ + average + average / 2 + kArenaReserve > bound;
}

void ProfileChunk::CloseArena() {
    std::shared_ptr<WriteBuffer> arena = std::move(open_);
    open_.reset();
    openFill_ = 0;
    openSeconds_ = 0;
    // Its seconds may all have been taken already.
    if (arena.use_count() == 1) ReleaseWriteBuffer(std::move(arena));
}

uint64_t ProfileChunk::ArenaCapacity() const {
    const uint64_t average = averageSecondBytes_;
    if (average == 0) return kFirstArenaCapacity;
    const uint64_t wanted = kWriteSeconds * average + average / 2 + kArenaReserve;
    return std::max<uint64_t>(AlignedBytes::Footprint(wanted), kWriteBufferCapacity);
}

bool ProfileChunk::FitsRate(const WriteBuffer& buffer) const {
    const uint64_t capacity = ArenaCapacity();
    return buffer.Capacity() >= capacity && buffer.Capacity() <= 2 * capacity;
}

// A pooled buffer while its size still fits the rate, else a new one.
std::shared_ptr<WriteBuffer> ProfileChunk::TakeArena() {
    std::shared_ptr<WriteBuffer> buffer = writePool_.PopOrCreate();
    if (!buffer || !FitsRate(*buffer)) {
        buffer = std::make_shared<WriteBuffer>(static_cast<uint32_t>(ArenaCapacity()));
    }
    return buffer;
}

void ProfileChunk::PrepareArena() {
    if (writePool_.Size() > 0) return;
    // Without a lock: the capacity reads the rate alone, and the pool is
    // safe to share. Should a buffer coming back fill the pool first, this
    // one is given back.
    // Without memory for it the push makes its arena as before.
    std::shared_ptr<WriteBuffer> buffer;
    try {
        buffer = std::make_shared<WriteBuffer>(static_cast<uint32_t>(ArenaCapacity()));
    } catch (const std::bad_alloc&) {
        return;
    }
    constexpr uint64_t kPageBytes = 4096;
    uint8_t* const bytes = buffer->Region(0);
    for (uint64_t at = 0; at < buffer->Capacity(); at += kPageBytes) bytes[at] = 0;
    writePool_.PushBounded(std::move(buffer));
}

// Without pre-record a closed arena is a write buffer that only waits for
// its job: it counts as one whole. Other finished seconds beyond those kept
// back count in whole units of the rate.
void ProfileChunk::RecountWaiting() {
    const uint32_t keep = keepSeconds_;
    uint32_t newer = 0;
    uint32_t closed = 0;
    uint64_t loose = 0;
    const WriteBuffer* last = nullptr;
    finished_.ForEachReverse([&](const std::shared_ptr<FrameBuffer>& second) {
        if (newer < keep) {
            ++newer;
            return;
        }
        const WriteBuffer* arena = second->Arena().get();
        if (keep == 0 && arena != nullptr && arena != open_.get()) {
            if (arena != last) ++closed;
            last = arena;
        } else {
            loose += second->Length();
        }
    });
    const uint64_t unit = CountUnit();
    waitingBuffers_ = closed + static_cast<uint32_t>(unit == 0 ? 0 : loose / unit);
}

void ProfileChunk::RequestHandOver() {
    std::lock_guard lock(mutex_);
    handOverRequested_ = true;
}

void ProfileChunk::SetKeepSeconds(uint32_t seconds) {
    std::lock_guard lock(mutex_);
    keepSeconds_ = seconds;
    RecountWaiting();
}

uint64_t ProfileChunk::CountUnit() const {
    return uint64_t{kCountSeconds} * averageSecondBytes_;
}

uint32_t ProfileChunk::WholeBuffersWaiting() const {
    return waitingBuffers_;
}

std::shared_ptr<WriteBuffer> ProfileChunk::TakeWriteBuffer(uint32_t keep, bool leaveOpen) {
    std::vector<std::shared_ptr<FrameBuffer>> chosen;
    std::vector<std::shared_ptr<FrameBuffer>> dropped;
    std::shared_ptr<WriteBuffer> whole;  // a closed arena handed over as it is
    uint32_t trackId = 0;
    {
        std::lock_guard lock(mutex_);
        const auto queuedCount = static_cast<int64_t>(finished_.Size());
        if (queuedCount < keep) return nullptr;
        const auto due = static_cast<size_t>(queuedCount - keep);
        std::vector<std::shared_ptr<FrameBuffer>> queued;
        queued.reserve(due + 1);
        finished_.ForEach([&](const std::shared_ptr<FrameBuffer>& second) {
            if (queued.size() <= due) queued.push_back(second);
        });
        const auto inOpen = [this](const FrameBuffer& second) {
            return open_ && second.Arena() == open_;
        };
        if (due > 0 && leaveOpen && inOpen(*queued.front())) return nullptr;
        const std::shared_ptr<WriteBuffer>& first = due > 0 ? queued.front()->Arena() : nullptr;
        size_t count = due;
        if (first && first != open_) {
            if (const size_t seconds = WholeArenaSeconds(queued, due, first); seconds > 0) {
                whole = first;
                count = seconds;
            }
        }
        const uint64_t bound = ArenaCapacity() - kArenaReserve;
        uint64_t bytes = 0;
        for (size_t i = 0; i < count; ++i) {
            const FrameBuffer& second = *queued[i];
            if (!whole && !chosen.empty()) {
                // A second that begins another arena may go with it whole.
                const bool otherArena = second.Arena() && second.Arena() != chosen.back()->Arena();
                if ((leaveOpen && inOpen(second)) || otherArena ||
                    bytes + second.Length() > bound) {
                    break;
                }
            }
            const second_frame_info_s& info = second.Summary();
            if (info.eventBits == 0) {
                dropped.push_back(finished_.PopFront());
                continue;
            }
            if (trackId == 0) trackId = info.trackId;
            if (trackId != info.trackId) break;
            if (!chosen.empty() &&
                !IsSameHour(static_cast<int64_t>(chosen.front()->Summary().firstFrameTime),
                            static_cast<int64_t>(info.firstFrameTime))) {
                break;
            }
            bytes += second.Length();
            chosen.push_back(finished_.PopFront());
        }
        RecountWaiting();
    }
    // Nothing chosen: an empty buffer says so without taking a pooled one.
    std::shared_ptr<WriteBuffer> buffer = whole            ? whole
                                          : chosen.empty() ? std::make_shared<WriteBuffer>(0)
                                                           : TakeArena();
    buffer->SetTrackId(trackId);
    // Copied seconds: one growth for all of them, with room for the pad and
    // end sector of the write, instead of one doubled copy per overflow.
    uint64_t bytes = kArenaReserve;
    for (const std::shared_ptr<FrameBuffer>& second : chosen) bytes += second->Length();
    if (!whole && !chosen.empty() && bytes > buffer->Capacity()) buffer->Grow(bytes);
    for (std::shared_ptr<FrameBuffer>& second : chosen) {
        buffer->Append(second);
        Recycle(std::move(second));
    }
    for (std::shared_ptr<FrameBuffer>& second : dropped) Recycle(std::move(second));
    buffer->SetProfile(static_cast<uint32_t>(kind_));
    return buffer;
}

void ProfileChunk::ReleaseWriteBuffer(std::shared_ptr<WriteBuffer> buffer) {
    // One whose size no longer fits the rate would only take a place in the
    // pool that a fitting one could use.
    if (!buffer || !FitsRate(*buffer)) return;
    buffer->Reset();
    writePool_.PushBounded(std::move(buffer));
}

std::shared_ptr<FrameBuffer> ProfileChunk::PopFinishedSecond() {
    return finished_.PopFront();
}

std::shared_ptr<second_frame_info_s> ProfileChunk::GetOldestSecondInfo() {
    const std::shared_ptr<FrameBuffer> oldest = finished_.Front();
    return oldest ? oldest->GetFrameInfo() : nullptr;
}

void ProfileChunk::Recycle(std::shared_ptr<FrameBuffer> buffer) {
    std::shared_ptr<WriteBuffer> arena = buffer->Arena();
    // A second that outgrew its arena keeps a large array to itself: it is
    // not kept for reuse.
    const bool ownArray = !arena && buffer->Capacity() > 0;
    buffer->Reset();
    // The last second of a closed arena gives the arena back (an open one is
    // still held by the chunk, one handed over by the write).
    if (arena && arena.use_count() == 1) ReleaseWriteBuffer(std::move(arena));
    if (!ownArray) framePool_.PushBounded(std::move(buffer));
}

}  // namespace orvale::recorder
