// Follows what one folder's recorder reports through its event callback:
// whether it reported an error, and whether it is still writing. The
// callback holds the watch by a shared reference, so a report that arrives
// on an engine thread after the folder is done still finds it alive.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "recorder/api/Interfaces.h"

namespace orvale::converter {

class RecorderStatusWatch {
  public:
    // A new watch, registered as the recorder's event callback.
    static std::shared_ptr<RecorderStatusWatch> Attach(recorder::IRecorder& recorder);

    void OnStatus(int32_t status);

    // The recorder reported a lost write, a missing folder, no file or no
    // space since the watch was attached.
    bool HadError() const;

    // To call after StopRecording: the recorder reports the end of writing
    // after the results of its last writes, so once that end has come every
    // error of the folder is known. Waits at most `limit` when the recorder
    // last reported that it was writing; false when the end did not come.
    bool WaitUntilIdle(std::chrono::milliseconds limit);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool writing_ = false;
    bool error_ = false;
};

}  // namespace orvale::converter
