// Converts one old metadata file (".nmt"): every sound record is handed to
// the recorder as a metadata frame of its time. Before each record the
// converter waits while the recorder has more than one write buffer or
// metadata second queued: the recorder drops a metadata second rather than
// wait for room, and a conversion loses none.
#pragma once

#include <filesystem>

#include "converter/FramePush.h"

namespace orvale::converter {

inline constexpr char kNmtCannotOpen[] = "cannot be opened";

// True only when the file's records were read. False when the file cannot
// be opened, ends inside a record or before its closing header, gave no
// record although it says it holds some, or the run was cancelled while
// waiting for the recorder; every case but the cancel says why in
// `failure`. A damaged record ends the file with what was read before it.
bool ConvertTextFile(const std::filesystem::path& path, const push_target_s& target,
                     pushed_frames_s& pushed, file_failure_s& failure);

}  // namespace orvale::converter
