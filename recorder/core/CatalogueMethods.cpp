// The engine's operations on catalogue records that need no recorder: the
// channel record, camera disconnection (ARB) intervals, bookmarks, failover
// cameras, and the RAID health query.
//
// None takes the engine lock: the catalogue's tables guard their own
// statements, and a table that is missing (catalogue not open) makes the
// operation answer with its failure result. The table objects bind or quote
// every caller's text, so ids and descriptions go to them as they are.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "common/Log.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/database/ArbTable.h"
#include "recorder/database/BookmarkTable.h"
#include "recorder/database/ChannelTable.h"
#include "recorder/storage/RaidChecker.h"

namespace orvale::recorder {
using common::kLogFatal;

namespace {

// The table speaks int64_t, the exported map long long; the two differ as
// types on this platform. An id already in the caller's map keeps its entry.
void MergeArbs(const std::map<int64_t, media_arb_s>& rows, std::map<long long, media_arb_s>& arbs) {
    for (const auto& [rowId, arb] : rows) arbs.emplace(static_cast<long long>(rowId), arb);
}

}  // namespace

bool MediaRecorderImpl::GetMediaChannel(const std::string& channelId, media_channel_s& channel) {
    const auto table = Catalogue()->GetChannelTable();
    if (!table) {
        OLOG(kLogFatal) << "CH[" << channelId << "], Faild to initialize a orvale.kvtdb";
        return false;
    }
    channel.id = channelId;
    if (table->Select(channel)) return true;
    OLOG(kLogFatal) << "CH[" << channelId << "], Faild to find MEDIA_CHANNEL in db.";
    return false;
}

void MediaRecorderImpl::getFailOverCameras(std::map<std::string, media_channel_s>& channels) {
    if (const auto table = Catalogue()->GetChannelTable()) table->SelectFailOver(channels);
}

// --- ARB intervals ---

void MediaRecorderImpl::getARB(const std::string& cameraId,
                               std::map<long long, media_arb_s>& arbs) {
    const auto table = Catalogue()->GetArbTable();
    if (!table) return;
    std::map<int64_t, media_arb_s> rows;
    table->SelectByCameraId(cameraId, rows);
    MergeArbs(rows, arbs);
}

void MediaRecorderImpl::getARBAll(std::map<long long, media_arb_s>& arbs) {
    const auto table = Catalogue()->GetArbTable();
    if (!table) return;
    std::map<int64_t, media_arb_s> rows;
    table->SelectAll(rows);
    MergeArbs(rows, arbs);
}

void MediaRecorderImpl::insertARB(media_arb_s arb) {
    if (const auto table = Catalogue()->GetArbTable()) table->Insert(arb);
}

void MediaRecorderImpl::updateARB(const media_arb_s& arb) {
    if (const auto table = Catalogue()->GetArbTable()) table->UpdateReconnectTime(arb);
}

void MediaRecorderImpl::deleteARB(const media_arb_s& arb) {
    if (const auto table = Catalogue()->GetArbTable()) table->DeleteByRowId(arb.rowId);
}

// --- bookmarks ---

void MediaRecorderImpl::RequestBookmark(const media_bookmark_s& bookmark,
                                        request_bookmark_type_s type) {
    const auto table = Catalogue()->GetBookmarkTable();
    if (!table) return;
    switch (type) {
        case REQUEST_BOOKMARK_TYPE_INSERT:
            table->Insert(bookmark);
            break;
        case REQUEST_BOOKMARK_TYPE_UPDATE:
            table->Update(bookmark);
            break;
        case REQUEST_BOOKMARK_TYPE_DELETE:
            table->DeleteByRowId(bookmark.rowId);
            break;
        default:
            break;
    }
}

void MediaRecorderImpl::GetBookmark(const std::string& guid,
                                    std::map<long long, media_bookmark_s>& bookmarks) {
    if (const auto table = Catalogue()->GetBookmarkTable()) table->SelectByGuid(guid, bookmarks);
}

long long MediaRecorderImpl::InsertLastRowId() {
    const auto table = Catalogue()->GetBookmarkTable();
    return table ? table->GetLastInsertRowId() : -1;
}

// --- RAID ---

void MediaRecorderImpl::getRaidChecker(media_raid_info_s& info) {
    // A fresh checker loads the vendor library anew, so a controller library
    // installed since the last query is found; the previous one is released.
    // Two queries at once take turns: the swap would otherwise unload the
    // library under the other one.
    std::lock_guard lock(raidMutex_);
    raidChecker_ = std::make_shared<RaidChecker>();
    raidChecker_->getVirtualDiskStatus(info.virtualDisks);
    raidChecker_->getPhysicalDiskStatus(info.physicalDisks);
}

}  // namespace orvale::recorder
