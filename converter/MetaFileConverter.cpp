#include "converter/MetaFileConverter.h"

#include "converter/FrameHeaders.h"
#include "converter/NmtReader.h"

namespace orvale::converter {

bool ConvertTextFile(const std::filesystem::path& path, const push_target_s& target,
                     pushed_frames_s& pushed) {
    NmtReader reader(path);
    if (!reader.IsOpen()) return false;
    recorder::IRecorder& recorder = target.recorder;
    nmt_record_s record;
    while (reader.Next(record)) {
        if (!WaitForRecorder(target)) return false;
        const recorder::meta_frame_header_s header =
            MetaHeader(record.seconds, record.milliseconds);
        const auto size = static_cast<uint32_t>(record.payload.size());
        if (!recorder.PushMetaFrame(header, record.payload.data(), size)) ++pushed.refusedFrames;
        ++pushed.metaFrames;
        pushed.bytes += size;
    }
    return true;
}

}  // namespace orvale::converter
