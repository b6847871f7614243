// Converts one old metadata file (".nmt"): every sound record is handed to
// the recorder as a metadata frame of its time, without waiting.
#pragma once

#include <filesystem>

#include "converter/FramePush.h"

namespace orvale::converter {

// False only when the file cannot be opened; a damaged record ends the file
// with what was read before it.
bool ConvertTextFile(const std::filesystem::path& path, recorder::IRecorder& recorder,
                     pushed_frames_s& pushed);

}  // namespace orvale::converter
