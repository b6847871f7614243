// Converts one old media data file (".nmd" or ".nmb"): every frame the
// walker finds is handed to the recorder with its header, video frames with
// the event flags of their second. Before each video frame the converter
// waits, on the recorder's write results, while the recorder has more than
// one write buffer queued, and after every 1 MiB of video it pauses for the
// configured delay.
#pragma once

#include <filesystem>

#include "converter/FramePush.h"

namespace orvale::converter {

// True only when the walk read the file's frames. False when the file
// yields no reader, its segment table cannot be read, it ends before a part
// its tables name (it lost its tail), it gave no frame, an exception ends
// the walk, or the run was cancelled while waiting for the recorder; every
// case but the cancel says why in `failure`. The frames pushed so far are
// counted either way.
bool ConvertDataFile(const std::filesystem::path& path, const push_target_s& target,
                     pushed_frames_s& pushed, file_failure_s& failure);

}  // namespace orvale::converter
