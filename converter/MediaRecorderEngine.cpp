#include "converter/ConversionWorker.h"

namespace orvale::converter {

bool MediaRecorderEngine::GetMediaDrive(std::vector<recorder::media_drive_s>& drives) {
    return engine_.GetMediaDrive(drives);
}

bool MediaRecorderEngine::SetMediaDrive(std::string& name, recorder::media_drive_status_e status) {
    return engine_.SetMediaDrive(name, status);
}

recorder::IRecorder* MediaRecorderEngine::CreateRecorder(std::string& channelId,
                                                         std::string& scheduleId, int protocol,
                                                         bool failover) {
    return engine_.CreateRecorder(channelId, scheduleId, protocol, failover);
}

void MediaRecorderEngine::ChangeTrackId(int trackId) {
    engine_.ChangeTrackId(trackId);
}

unsigned MediaRecorderEngine::GetTrackId() {
    return engine_.GetTrackId();
}

bool MediaRecorderEngine::GetUseOverwrite() {
    return engine_.GetUseOverwrite();
}

void MediaRecorderEngine::SetUseOverwrite(bool use) {
    engine_.SetUseOverwrite(use);
}

bool MediaRecorderEngine::DeleteChannel(std::string& channelId, bool removeData) {
    return engine_.DeleteChannel(channelId, removeData);
}

}  // namespace orvale::converter
