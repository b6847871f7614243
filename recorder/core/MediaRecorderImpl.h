// The engine object behind MediaRecorder. It owns every registry, pool and
// timer of the engine; the exported handle owns it.
#pragma once

namespace orvale::recorder {

class MediaRecorderImpl {
  public:
    MediaRecorderImpl() = default;
    ~MediaRecorderImpl() = default;

    MediaRecorderImpl(const MediaRecorderImpl&) = delete;
    MediaRecorderImpl& operator=(const MediaRecorderImpl&) = delete;
};

}  // namespace orvale::recorder
