#include "converter/MetaFileConverter.h"

#include "converter/FrameHeaders.h"
#include "converter/NmtReader.h"

namespace orvale::converter {

bool ConvertTextFile(const std::filesystem::path& path, const push_target_s& target,
                     pushed_frames_s& pushed, file_failure_s& failure) {
    NmtReader reader(path);
    if (!reader.IsOpen()) {
        failure.why = kNmtCannotOpen;
        return false;
    }
    uint64_t records = 0;
    recorder::IRecorder& recorder = target.recorder;
    nmt_record_s record;
    while (reader.Next(record)) {
        if (!WaitForRecorder(target)) return false;
        const recorder::meta_frame_header_s header =
            MetaHeader(record.seconds, record.milliseconds);
        const auto size = static_cast<uint32_t>(record.payload.size());
        if (!recorder.PushMetaFrame(header, record.payload.data(), size)) ++pushed.refusedFrames;
        ++pushed.metaFrames;
        ++records;
        pushed.bytes += size;
    }
    if (reader.CutShort()) {
        failure.why = "file ends before its last record";
    } else if (records == 0 && reader.HoldsRecords()) {
        failure.why = "no record in the file";
    }
    return failure.why.empty();
}

}  // namespace orvale::converter
