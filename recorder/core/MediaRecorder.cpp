#include "recorder/api/MediaRecorder.h"

#include "recorder/core/MediaRecorderImpl.h"

namespace orvale::recorder {

MediaRecorder::MediaRecorder() : impl(new MediaRecorderImpl()) {}

MediaRecorder::~MediaRecorder() {
    delete impl;
}

void MediaRecorder::Initialize() {
    impl->Initialize();
}
void MediaRecorder::Finalize(bool removeFiles) {
    impl->Finalize(removeFiles);
}
unsigned MediaRecorder::GetTrackId() {
    return impl->GetTrackId();
}

void MediaRecorder::SetUseOverwrite(bool use) {
    impl->SetUseOverwrite(use);
}
bool MediaRecorder::GetUseOverwrite() {
    return impl->GetUseOverwrite();
}
void MediaRecorder::SetUseDualRecord(bool use) {
    impl->SetUseDualRecord(use);
}
bool MediaRecorder::GetUseDualRecord() {
    return impl->GetUseDualRecord();
}
void MediaRecorder::SetMinFreeSpace(unsigned mib) {
    impl->SetMinFreeSpace(mib);
}
unsigned MediaRecorder::GetMinFreeSpace() {
    return impl->GetMinFreeSpace();
}
void MediaRecorder::SetDataFileSize(long long mib) {
    impl->SetDataFileSize(mib);
}
long long MediaRecorder::GetDataFileSize() {
    return impl->GetDataFileSize();
}
void MediaRecorder::SetBufferSize(unsigned bytes) {
    impl->SetBufferSize(bytes);
}
unsigned MediaRecorder::GetBufferSize() {
    return impl->GetBufferSize();
}
void MediaRecorder::SetEncryptionInfo(media_encrypt_s& info) {
    impl->SetEncryptionInfo(info);
}
media_encrypt_s MediaRecorder::GetEncryptionInfo() {
    return impl->GetEncryptionInfo();
}
unsigned MediaRecorder::GetMaxPreRecordTimeForSetUp() {
    return impl->GetMaxPreRecordTimeForSetUp();
}
void MediaRecorder::RegisterEventHandler(ConfigEventHandler handler) {
    impl->RegisterEventHandler(std::move(handler));
}

bool MediaRecorder::GetMediaDrive(std::vector<media_drive_s>& drives) {
    return impl->GetMediaDrive(drives);
}
bool MediaRecorder::SetMediaDrive(std::string& name, media_drive_status_e status) {
    return impl->SetMediaDrive(name, status);
}
bool MediaRecorder::SetRecordDrives(std::string& channelId, const std::string& drives) {
    return impl->SetRecordDrives(channelId, drives);
}
media_drive_info_s MediaRecorder::GetMediaDriveSpace(std::string name) {
    return impl->GetMediaDriveSpace(name);
}

}  // namespace orvale::recorder
