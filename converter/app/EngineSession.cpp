#include "converter/app/EngineSession.h"

#include <filesystem>
#include <system_error>
#include <thread>

#include "converter/app/EngineLines.h"
#include "platform/PublicDocuments.h"

namespace orvale::converter {
EngineSession::EngineSession(std::chrono::milliseconds settleTime)
    : engine_(std::make_unique<recorder::MediaRecorder>()),
      adapter_(std::make_unique<MediaRecorderEngine>(*engine_)),
      settleTime_(settleTime) {
    engine_->Initialize();
}

EngineSession::~EngineSession() {
    engine_->Finalize(true);
    adapter_.reset();
    engine_.reset();
    std::this_thread::sleep_for(settleTime_);
}

void SetUpConverterLogging() {
    HookEngineLines(0);
    recorder::LOG_ADD_VS_DEBUG_OUT();
    const std::string folder = platform::PublicDocumentsFolder();
    if (folder.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    recorder::LOG_ADD_FILE_OUT(folder + "/converter");
}

}  // namespace orvale::converter
