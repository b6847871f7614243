#include "recorder/api/MediaRecorder.h"

#include "recorder/core/MediaRecorderImpl.h"

namespace orvale::recorder {

MediaRecorder::MediaRecorder() : impl(new MediaRecorderImpl()) {}

MediaRecorder::~MediaRecorder() {
    delete impl;
}

}  // namespace orvale::recorder
