#include "recorder/api/MediaRecorder.h"

#include <utility>

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
void MediaRecorder::ChangeTrackId(int trackId) {
    impl->ChangeTrackId(trackId);
}

IRecorder* MediaRecorder::CreateRecorder(std::string& channelId, std::string& scheduleId,
                                         int protocol, bool failover) {
    return impl->CreateRecorder(channelId, scheduleId, protocol, failover);
}
IRecorder* MediaRecorder::GetRecorder(std::string& channelId) {
    return impl->GetRecorder(channelId);
}
void MediaRecorder::DeleteRecorder(std::string& channelId) {
    impl->DeleteRecorder(channelId);
}
bool MediaRecorder::DeleteChannel(std::string& channelId, bool removeData) {
    return impl->DeleteChannel(channelId, removeData);
}
bool MediaRecorder::SetSchedule(std::string& scheduleId, const media_schedule_s& schedule,
                                const std::vector<media_holiday_s>& holidays) {
    return impl->SetSchedule(scheduleId, schedule, holidays);
}
bool MediaRecorder::ResetSchedule(std::string& scheduleId) {
    return impl->ResetSchedule(scheduleId);
}
IArbRecorder* MediaRecorder::CreateArbRecorder(std::string& channelId) {
    return impl->CreateArbRecorder(channelId);
}
IArbRecorder* MediaRecorder::GetArbRecorder(std::string& channelId) {
    return impl->GetArbRecorder(channelId);
}
void MediaRecorder::DeleteArbRecorder(std::string& channelId) {
    impl->DeleteArbRecorder(channelId);
}
unsigned MediaRecorder::GetExpectedRetention(std::string& channelId) {
    return impl->GetExpectedRetention(channelId);
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

bool MediaRecorder::GetMediaChannel(std::string& channelId, media_channel_s& channel) {
    return impl->GetMediaChannel(channelId, channel);
}
void MediaRecorder::getFailOverCameras(std::map<std::string, media_channel_s>& channels) {
    impl->getFailOverCameras(channels);
}

void MediaRecorder::getARB(std::string& cameraId, std::map<long long, media_arb_s>& arbs) {
    impl->getARB(cameraId, arbs);
}
void MediaRecorder::getARBAll(std::map<long long, media_arb_s>& arbs) {
    impl->getARBAll(arbs);
}
void MediaRecorder::insertARB(media_arb_s arb) {
    impl->insertARB(std::move(arb));
}
// The exported signatures take these records by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void MediaRecorder::updateARB(media_arb_s arb) {
    impl->updateARB(arb);
}
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void MediaRecorder::deleteARB(media_arb_s arb) {
    impl->deleteARB(arb);
}

// NOLINTNEXTLINE(performance-unnecessary-value-param)
void MediaRecorder::RequestBookmark(media_bookmark_s bookmark, request_bookmark_type_s type) {
    impl->RequestBookmark(bookmark, type);
}
void MediaRecorder::GetBookmark(std::string& guid,
                                std::map<long long, media_bookmark_s>& bookmarks) {
    impl->GetBookmark(guid, bookmarks);
}
long long MediaRecorder::InsertLastRowId() {
    return impl->InsertLastRowId();
}

ITrackSearcher* MediaRecorder::CreateTrackSearcher(unsigned seqId) {
    return impl->CreateTrackSearcher(seqId);
}
void MediaRecorder::DeleteTrackSearcher(unsigned seqId) {
    impl->DeleteTrackSearcher(seqId);
}
ICalendarSearcher* MediaRecorder::CreateCalendarSearcher(unsigned seqId,
                                                         std::vector<std::string>& channelIds) {
    return impl->CreateCalendarSearcher(seqId, channelIds);
}
void MediaRecorder::DeleteCalendarSearcher(unsigned seqId) {
    impl->DeleteCalendarSearcher(seqId);
}
ITimelineSearcher* MediaRecorder::CreateTimelineSearcher(unsigned seqId,
                                                         std::vector<std::string>& channelIds) {
    return impl->CreateTimelineSearcher(seqId, channelIds);
}
void MediaRecorder::DeleteTimelineSearcher(unsigned seqId) {
    impl->DeleteTimelineSearcher(seqId);
}

void MediaRecorder::getRaidChecker(media_raid_info_s& info) {
    impl->getRaidChecker(info);
}

}  // namespace orvale::recorder
