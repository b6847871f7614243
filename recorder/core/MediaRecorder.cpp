#include "recorder/api/MediaRecorder.h"

#include <utility>

#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/core/RegistryWalk.h"

namespace orvale::recorder {

// Every exported method forwards to the engine object through Forward: an
// exception that would leave it is logged with the method's name instead, and
// the method answers with its failure value (null, false, 0, -1, an empty
// record). A host never sees an exception from the engine.
namespace {

template <class Result, class Call>
Result Forward(const char* method, Result failure, Call&& call) noexcept {
    try {
        return call();
    } catch (...) {
        LogCaughtException(method);
    }
    return failure;
}

template <class Call>
void Forward(const char* method, Call&& call) noexcept {
    RunGuarded(method, std::forward<Call>(call));
}

}  // namespace

MediaRecorder::MediaRecorder() : impl(new MediaRecorderImpl()) {}

MediaRecorder::~MediaRecorder() {
    delete impl;
}

void MediaRecorder::Initialize() {
    Forward("Initialize", [&] { impl->Initialize(); });
}
void MediaRecorder::Finalize(bool removeFiles) {
    Forward("Finalize", [&] { impl->Finalize(removeFiles); });
}
unsigned MediaRecorder::GetTrackId() {
    return Forward("GetTrackId", 0u, [&] { return impl->GetTrackId(); });
}
void MediaRecorder::ChangeTrackId(int trackId) {
    Forward("ChangeTrackId", [&] { impl->ChangeTrackId(trackId); });
}

IRecorder* MediaRecorder::CreateRecorder(std::string& channelId, std::string& scheduleId,
                                         int protocol, bool failover) {
    return Forward("CreateRecorder", static_cast<IRecorder*>(nullptr),
                   [&] { return impl->CreateRecorder(channelId, scheduleId, protocol, failover); });
}
IRecorder* MediaRecorder::GetRecorder(std::string& channelId) {
    return Forward("GetRecorder", static_cast<IRecorder*>(nullptr),
                   [&] { return impl->GetRecorder(channelId); });
}
void MediaRecorder::DeleteRecorder(std::string& channelId) {
    Forward("DeleteRecorder", [&] { impl->DeleteRecorder(channelId); });
}
bool MediaRecorder::DeleteChannel(std::string& channelId, bool removeData) {
    return Forward("DeleteChannel", false,
                   [&] { return impl->DeleteChannel(channelId, removeData); });
}
bool MediaRecorder::SetSchedule(std::string& scheduleId, const media_schedule_s& schedule,
                                const std::vector<media_holiday_s>& holidays) {
    return Forward("SetSchedule", false,
                   [&] { return impl->SetSchedule(scheduleId, schedule, holidays); });
}
bool MediaRecorder::ResetSchedule(std::string& scheduleId) {
    return Forward("ResetSchedule", false, [&] { return impl->ResetSchedule(scheduleId); });
}
IArbRecorder* MediaRecorder::CreateArbRecorder(std::string& channelId) {
    return Forward("CreateArbRecorder", static_cast<IArbRecorder*>(nullptr),
                   [&] { return impl->CreateArbRecorder(channelId); });
}
IArbRecorder* MediaRecorder::GetArbRecorder(std::string& channelId) {
    return Forward("GetArbRecorder", static_cast<IArbRecorder*>(nullptr),
                   [&] { return impl->GetArbRecorder(channelId); });
}
void MediaRecorder::DeleteArbRecorder(std::string& channelId) {
    Forward("DeleteArbRecorder", [&] { impl->DeleteArbRecorder(channelId); });
}
unsigned MediaRecorder::GetExpectedRetention(std::string& channelId) {
    return Forward("GetExpectedRetention", 0u,
                   [&] { return impl->GetExpectedRetention(channelId); });
}

void MediaRecorder::SetUseOverwrite(bool use) {
    Forward("SetUseOverwrite", [&] { impl->SetUseOverwrite(use); });
}
bool MediaRecorder::GetUseOverwrite() {
    return Forward("GetUseOverwrite", false, [&] { return impl->GetUseOverwrite(); });
}
void MediaRecorder::SetUseDualRecord(bool use) {
    Forward("SetUseDualRecord", [&] { impl->SetUseDualRecord(use); });
}
bool MediaRecorder::GetUseDualRecord() {
    return Forward("GetUseDualRecord", false, [&] { return impl->GetUseDualRecord(); });
}
void MediaRecorder::SetMinFreeSpace(unsigned mib) {
    Forward("SetMinFreeSpace", [&] { impl->SetMinFreeSpace(mib); });
}
unsigned MediaRecorder::GetMinFreeSpace() {
    return Forward("GetMinFreeSpace", 0u, [&] { return impl->GetMinFreeSpace(); });
}
void MediaRecorder::SetDataFileSize(long long mib) {
    Forward("SetDataFileSize", [&] { impl->SetDataFileSize(mib); });
}
long long MediaRecorder::GetDataFileSize() {
    return Forward("GetDataFileSize", 0LL, [&] { return impl->GetDataFileSize(); });
}
void MediaRecorder::SetBufferSize(unsigned bytes) {
    Forward("SetBufferSize", [&] { impl->SetBufferSize(bytes); });
}
unsigned MediaRecorder::GetBufferSize() {
    return Forward("GetBufferSize", 0u, [&] { return impl->GetBufferSize(); });
}
void MediaRecorder::SetEncryptionInfo(media_encrypt_s& info) {
    Forward("SetEncryptionInfo", [&] { impl->SetEncryptionInfo(info); });
}
media_encrypt_s MediaRecorder::GetEncryptionInfo() {
    return Forward("GetEncryptionInfo", media_encrypt_s{},
                   [&] { return impl->GetEncryptionInfo(); });
}
unsigned MediaRecorder::GetMaxPreRecordTimeForSetUp() {
    return Forward("GetMaxPreRecordTimeForSetUp", 0u,
                   [&] { return impl->GetMaxPreRecordTimeForSetUp(); });
}
void MediaRecorder::RegisterEventHandler(ConfigEventHandler handler) {
    Forward("RegisterEventHandler", [&] { impl->RegisterEventHandler(std::move(handler)); });
}

bool MediaRecorder::GetMediaDrive(std::vector<media_drive_s>& drives) {
    return Forward("GetMediaDrive", false, [&] { return impl->GetMediaDrive(drives); });
}
bool MediaRecorder::SetMediaDrive(std::string& name, media_drive_status_e status) {
    return Forward("SetMediaDrive", false, [&] { return impl->SetMediaDrive(name, status); });
}
bool MediaRecorder::SetRecordDrives(std::string& channelId, const std::string& drives) {
    return Forward("SetRecordDrives", false,
                   [&] { return impl->SetRecordDrives(channelId, drives); });
}
media_drive_info_s MediaRecorder::GetMediaDriveSpace(std::string name) {
    return Forward("GetMediaDriveSpace", media_drive_info_s{},
                   [&] { return impl->GetMediaDriveSpace(name); });
}

bool MediaRecorder::GetMediaChannel(std::string& channelId, media_channel_s& channel) {
    return Forward("GetMediaChannel", false,
                   [&] { return impl->GetMediaChannel(channelId, channel); });
}
void MediaRecorder::getFailOverCameras(std::map<std::string, media_channel_s>& channels) {
    Forward("getFailOverCameras", [&] { impl->getFailOverCameras(channels); });
}

void MediaRecorder::getARB(std::string& cameraId, std::map<long long, media_arb_s>& arbs) {
    Forward("getARB", [&] { impl->getARB(cameraId, arbs); });
}
void MediaRecorder::getARBAll(std::map<long long, media_arb_s>& arbs) {
    Forward("getARBAll", [&] { impl->getARBAll(arbs); });
}
void MediaRecorder::insertARB(media_arb_s arb) {
    Forward("insertARB", [&] { impl->insertARB(std::move(arb)); });
}
// The exported signatures take these records by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void MediaRecorder::updateARB(media_arb_s arb) {
    Forward("updateARB", [&] { impl->updateARB(arb); });
}
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void MediaRecorder::deleteARB(media_arb_s arb) {
    Forward("deleteARB", [&] { impl->deleteARB(arb); });
}

// NOLINTNEXTLINE(performance-unnecessary-value-param)
void MediaRecorder::RequestBookmark(media_bookmark_s bookmark, request_bookmark_type_s type) {
    Forward("RequestBookmark", [&] { impl->RequestBookmark(bookmark, type); });
}
void MediaRecorder::GetBookmark(std::string& guid,
                                std::map<long long, media_bookmark_s>& bookmarks) {
    Forward("GetBookmark", [&] { impl->GetBookmark(guid, bookmarks); });
}
long long MediaRecorder::InsertLastRowId() {
    return Forward("InsertLastRowId", -1LL, [&] { return impl->InsertLastRowId(); });
}

PlaybackMedia* MediaRecorder::CreatePlaybackMedia(unsigned mediaId, unsigned trackId,
                                                  std::string& channelId, std::string session) {
    return Forward("CreatePlaybackMedia", static_cast<PlaybackMedia*>(nullptr),
                   [&] { return impl->CreatePlaybackMedia(mediaId, trackId, channelId, session); });
}
PlaybackMedia* MediaRecorder::GetPlaybackMedia(unsigned mediaId) {
    return Forward("GetPlaybackMedia", static_cast<PlaybackMedia*>(nullptr),
                   [&] { return impl->GetPlaybackMedia(mediaId); });
}
void MediaRecorder::DeletePlaybackMedia(unsigned mediaId) {
    Forward("DeletePlaybackMedia", [&] { impl->DeletePlaybackMedia(mediaId); });
}
media_error_e MediaRecorder::OpenMedia(unsigned seqId, long long start, long long end, int trackId,
                                       unsigned mediaId, std::string& channelId, bool pause,
                                       bool backup, unsigned profileType, std::string session,
                                       OpenMediaCallback data, OpenMediaResponseCallback response) {
    return Forward("OpenMedia", MEDIA_ERROR_OPEN_FAILED, [&] {
        return impl->OpenMedia(seqId, start, end, trackId, mediaId, channelId, pause, backup,
                               profileType, session, std::move(data), std::move(response));
    });
}
bool MediaRecorder::ControlMedia(unsigned seqId, unsigned controlType, unsigned mediaId, int speed,
                                 unsigned, long long time, unsigned profileType,
                                 std::string session, ControlMediaResponseCallback response) {
    return Forward("ControlMedia", false, [&] {
        return impl->ControlMedia(seqId, controlType, mediaId, speed, time, profileType, session,
                                  std::move(response));
    });
}

ITrackSearcher* MediaRecorder::CreateTrackSearcher(unsigned seqId) {
    return Forward("CreateTrackSearcher", static_cast<ITrackSearcher*>(nullptr),
                   [&] { return impl->CreateTrackSearcher(seqId); });
}
void MediaRecorder::DeleteTrackSearcher(unsigned seqId) {
    Forward("DeleteTrackSearcher", [&] { impl->DeleteTrackSearcher(seqId); });
}
ICalendarSearcher* MediaRecorder::CreateCalendarSearcher(unsigned seqId,
                                                         std::vector<std::string>& channelIds) {
    return Forward("CreateCalendarSearcher", static_cast<ICalendarSearcher*>(nullptr),
                   [&] { return impl->CreateCalendarSearcher(seqId, channelIds); });
}
void MediaRecorder::DeleteCalendarSearcher(unsigned seqId) {
    Forward("DeleteCalendarSearcher", [&] { impl->DeleteCalendarSearcher(seqId); });
}
ITimelineSearcher* MediaRecorder::CreateTimelineSearcher(unsigned seqId,
                                                         std::vector<std::string>& channelIds) {
    return Forward("CreateTimelineSearcher", static_cast<ITimelineSearcher*>(nullptr),
                   [&] { return impl->CreateTimelineSearcher(seqId, channelIds); });
}
void MediaRecorder::DeleteTimelineSearcher(unsigned seqId) {
    Forward("DeleteTimelineSearcher", [&] { impl->DeleteTimelineSearcher(seqId); });
}
IForensicSearcher* MediaRecorder::CreateForensicSearcher(unsigned seqId, std::string& channelId) {
    return Forward("CreateForensicSearcher", static_cast<IForensicSearcher*>(nullptr),
                   [&] { return impl->CreateForensicSearcher(seqId, channelId); });
}
void MediaRecorder::DeleteForensicSearcher(unsigned seqId) {
    Forward("DeleteForensicSearcher", [&] { impl->DeleteForensicSearcher(seqId); });
}

void MediaRecorder::getRaidChecker(media_raid_info_s& info) {
    Forward("getRaidChecker", [&] { impl->getRaidChecker(info); });
}

}  // namespace orvale::recorder
