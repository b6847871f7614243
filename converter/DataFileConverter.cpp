#include "converter/DataFileConverter.h"

#include <exception>
#include <string>

#include "converter/FrameHeaders.h"
#include "converter/FrameWalker.h"
#include "converter/RecFile.h"

namespace orvale::converter {
namespace {

constexpr uint64_t kThrottleBytes = 0x100000;

class FramePusher {
  public:
    FramePusher(const push_target_s& target, pushed_frames_s& pushed)
        : target_(target), pushed_(pushed) {}

    // False ends the walk: the run was cancelled during a wait. The second
    // under way is finished first, without waiting: a second stored again
    // replaces the earlier store of it, so a run cancelled half-way through
    // a second would leave that second with only part of its frames.
    bool Push(const old_frame_s& frame) {
        const bool sameSecond = pushedAny_ && frame.record.seconds == second_;
        if (cancelled_ && !sameSecond) return false;
        if (frame.audio) {
            PushAudio(frame);
            return true;
        }
        if (!cancelled_ && !WaitForRecorder(target_)) {
            cancelled_ = true;
            if (!sameSecond) return false;
        }
        pushedAny_ = true;
        second_ = frame.record.seconds;
        Throttle(frame.record.dataSize);
        const recorder::video_frame_header_s header = VideoHeader(frame.record);
        const bool taken = target_.recorder.PushVideoFrame(header, frame.payload.data(),
                                                           frame.record.dataSize, frame.eventFlags);
        Count(taken, frame.record.dataSize);
        ++pushed_.videoFrames;
        return true;
    }

    bool Cancelled() const { return cancelled_; }

  private:
    void PushAudio(const old_frame_s& frame) {
        const recorder::audio_frame_header_s header = AudioHeader(frame.record);
        const bool taken =
            target_.recorder.PushAudioFrame(header, frame.payload.data(), frame.record.dataSize);
        Count(taken, frame.record.dataSize);
        ++pushed_.audioFrames;
    }

    void Throttle(uint32_t size) {
        fileBytes_ += size;
        if (fileBytes_ <= kThrottleBytes) return;
        fileBytes_ = 0;
        if (target_.delayTimeMs > 0) target_.sleep(std::chrono::milliseconds(target_.delayTimeMs));
    }

    void Count(bool taken, uint32_t size) {
        pushed_.bytes += size;
        if (!taken) ++pushed_.refusedFrames;
    }

    const push_target_s& target_;
    pushed_frames_s& pushed_;
    uint64_t fileBytes_ = 0;
    bool cancelled_ = false;
    bool pushedAny_ = false;
    uint32_t second_ = 0;  // of the last video frame pushed
};

// A walk that lost part of the file, or found nothing in it, did not convert
// the file: deleting it would lose what the walk could not read.
std::string WalkFailure(const walk_result_s& walk) {
    if (!walk.segmentTableRead) return "segment table cannot be read";
    if (walk.cutShort) return "file ends before its last chunk";
    if (walk.frames == 0) return "no frame in the file";
    return {};
}

}  // namespace

bool ConvertDataFile(const std::filesystem::path& path, const push_target_s& target,
                     pushed_frames_s& pushed, file_failure_s& failure) {
    try {
        CRecFile file(path);
        CRecReader* reader = file.Reader();
        if (reader == nullptr || !reader->IsOpen()) {
            failure.why = RecFileStatusText(file.Status());
            return false;
        }
        FramePusher pusher(target, pushed);
        FrameWalker walker(*reader);
        const walk_result_s walk =
            walker.Walk([&pusher](const old_frame_s& frame) { return pusher.Push(frame); });
        if (pusher.Cancelled()) return false;
        failure.why = WalkFailure(walk);
        return failure.why.empty();
    } catch (const std::exception& error) {
        failure.why = std::string("read error: ") + error.what();
        return false;
    }
}

}  // namespace orvale::converter
