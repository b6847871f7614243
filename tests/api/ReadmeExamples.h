// The README's examples, as functions the suite runs on an engine of its
// own (see ReadmeExamples.cpp).
#pragma once

#include "recorder/api/MediaRecorder.h"

namespace orvale::readme {

// Starts the engine, records ten seconds of cam1 from 2024-12-10 10:00:00
// UTC onto drive D and finalizes the engine, keeping what it recorded.
void Recording(recorder::MediaRecorder& engine);
// Opens cam1 from that hour on medium 7, steers it and gives it back.
void Playback(recorder::MediaRecorder& engine);

}  // namespace orvale::readme
