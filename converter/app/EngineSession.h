// The engine as the converter holds it for the life of its window: made and
// initialised on construction; on destruction finalised with its catalogue
// files removed, deleted, and given a second to let its files settle.
// Whoever holds the session must have ended every conversion run first.
#pragma once

#include <chrono>
#include <memory>

#include "converter/ConversionWorker.h"
#include "recorder/api/MediaRecorder.h"

namespace orvale::converter {

class EngineSession {
  public:
    static constexpr std::chrono::milliseconds kSettleTime{1000};

    explicit EngineSession(std::chrono::milliseconds settleTime = kSettleTime);
    ~EngineSession();

    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    ConversionEngine& Engine() { return *adapter_; }

  private:
    std::unique_ptr<recorder::MediaRecorder> engine_;
    std::unique_ptr<MediaRecorderEngine> adapter_;
    std::chrono::milliseconds settleTime_;
};

// The engine's logging for the converter: every line, handed to the window's
// taps (HookEngineLines), to the debugger-output sink and to log files named
// from the public documents folder + "converter".
void SetUpConverterLogging();

}  // namespace orvale::converter
