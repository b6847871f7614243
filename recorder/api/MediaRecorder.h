// The recording engine's exported interface: the one header a caller
// includes.
//
// MediaRecorder is a thin handle over the engine object, which it creates in
// its constructor and destroys in its destructor. It cannot be copied: two
// handles would destroy one engine twice.
#pragma once

#include "recorder/api/Export.h"
#include "recorder/api/Interfaces.h"
#include "recorder/api/Logging.h"
#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

class MediaRecorderImpl;

class OSTREL_API MediaRecorder {
  public:
    MediaRecorder();
    ~MediaRecorder();

    MediaRecorder(const MediaRecorder&) = delete;
    MediaRecorder& operator=(const MediaRecorder&) = delete;

  private:
    MediaRecorderImpl* impl;
};

}  // namespace orvale::recorder
