#include "recorder/storage/RaidChecker.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "common/Log.h"

namespace orvale::recorder {
namespace {

using common::kLogDebug;
using common::kLogError;
using common::kLogInfo;
using common::kLogWarning;

constexpr const char* kLibraryFile = "libi2bdg.so";
constexpr const char* kLibraryVariable = "OSTREL_RAID_LIBRARY";

// The vendor's functions; each answers 0 for success.
using LogicalDriveInfoFunction = int (*)(void* buffer, int size);
using ElementCountFunction = int (*)(void* record);
using HardDiskInfoFunction = int (*)(void* buffer, int size);

// Logical-drive buffer: a uint32 entry count, then entries of one stride.
constexpr size_t kLogicalBufferSize = 0xFFFF;
constexpr size_t kLogicalHead = 4;
constexpr size_t kLogicalStride = 96;
constexpr size_t kLogicalIdOffset = 4;
constexpr size_t kLogicalStatusOffset = 40;
constexpr size_t kLogicalValueOffset = 76;
constexpr size_t kLogicalStatusSize = kLogicalValueOffset - kLogicalStatusOffset;
constexpr size_t kLogicalCapacity = (kLogicalBufferSize - kLogicalHead) / kLogicalStride;

// Element-count record: the number of physical disks is one byte.
constexpr size_t kElementRecordSize = 20;
constexpr size_t kPhysicalCountOffset = 9;

// Hard-disk buffer: one entry per physical-disk slot.
constexpr size_t kPhysicalStride = 160;
constexpr size_t kPhysicalIdOffset = 0;
constexpr size_t kPhysicalStatusOffset = 124;
constexpr size_t kPhysicalStatusSize = kPhysicalStride - kPhysicalStatusOffset;

uint64_t ReadLittleEndian(const uint8_t* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

// 0 for a text of exactly "OK" within the field, 1 for anything else.
int32_t StatusOf(const uint8_t* field, size_t size) {
    const void* end = std::memchr(field, 0, size);
    const size_t length = end == nullptr ? size : static_cast<const uint8_t*>(end) - field;
    return length == 2 && field[0] == 'O' && field[1] == 'K' ? 0 : 1;
}

bool Allocate(std::vector<uint8_t>& buffer, size_t size,
              const char* failure = "pDataBuf malloc fail") {
    try {
        buffer.assign(size, 0);
        return true;
    } catch (const std::bad_alloc&) {
        OLOG(kLogError) << failure;
        return false;
    }
}

}  // namespace

RaidChecker::RaidChecker()
    : library_(platform::DynamicLibrary::OpenBesideHost(kLibraryFile, kLibraryVariable)) {}

RaidChecker::~RaidChecker() = default;

bool RaidChecker::getVirtualDiskStatus(std::list<media_raid_virtual_disk_s>& disks) {
    OLOG(kLogInfo) << "getVirtualDiskStatus Running";
    if (!library_) {
        OLOG(kLogDebug) << "Library Load Fail";
        return false;
    }
    const auto query = library_->Function<LogicalDriveInfoFunction>("i2bApi_getLogDrvInfo");
    if (query == nullptr) {
        OLOG(kLogError) << "getVirtualDiskStatus pLogDrvInfoFuncDll Function Call Fail";
        return false;
    }
    std::vector<uint8_t> buffer;
    if (!Allocate(buffer, kLogicalBufferSize)) return false;
    if (query(buffer.data(), static_cast<int>(buffer.size())) != 0) {
        OLOG(kLogError) << "getVirtualDiskStatus pLogDrvInfoFuncDll Function Call Fail";
        return false;
    }
    const uint64_t reported = ReadLittleEndian(buffer.data(), 4);
    OLOG(kLogWarning) << "getVirtualDiskStatus Count" << reported;
    const uint64_t count = std::min<uint64_t>(reported, kLogicalCapacity);
    if (count < reported) {
        OLOG(kLogWarning) << "getVirtualDiskStatus Count exceeds the buffer, reading " << count;
    }
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = buffer.data() + kLogicalHead + i * kLogicalStride;
        media_raid_virtual_disk_s disk;
        disk.status = StatusOf(entry + kLogicalStatusOffset, kLogicalStatusSize);
        disk.id = static_cast<int32_t>(ReadLittleEndian(entry + kLogicalIdOffset, 2));
        disk.value = static_cast<int64_t>(ReadLittleEndian(entry + kLogicalValueOffset, 8));
        disks.push_back(disk);
    }
    return true;
}

bool RaidChecker::getPhysicalDiskStatus(std::list<media_raid_physical_disk_s>& disks) {
    OLOG(kLogInfo) << "getPhysicalDiskStatus Running";
    if (!library_) {
        OLOG(kLogDebug) << "Library Load Fail";
        return false;
    }
    const auto countQuery = library_->Function<ElementCountFunction>("i2bApi_getElementCnt");
    if (countQuery == nullptr) {
        OLOG(kLogError) << "getPhysicalDiskStatus pElement Function Call Fail";
        return false;
    }
    std::vector<uint8_t> record;
    if (!Allocate(record, kElementRecordSize, "eleCnt malloc fail")) return false;
    if (countQuery(record.data()) != 0) {
        OLOG(kLogError) << "getPhysicalDiskStatus pElement Function Call Fail";
        return false;
    }
    const size_t count = record[kPhysicalCountOffset];
    std::vector<uint8_t> buffer;
    if (!Allocate(buffer, count * kPhysicalStride)) return false;
    const auto query = library_->Function<HardDiskInfoFunction>("i2bApi_getHardDiskDriveInfo");
    // No slots: nothing to ask, and an empty buffer is no pointer to hand on.
    if (query == nullptr ||
        (count > 0 && query(buffer.data(), static_cast<int>(buffer.size())) != 0)) {
        OLOG(kLogError) << "getPhysicalDiskStatus pPhyDrvInfoFuncDll Function Call Fail";
        return false;
    }
    OLOG(kLogWarning) << "getPhysicalDiskStatus Count" << count;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = buffer.data() + i * kPhysicalStride;
        const auto id = static_cast<int32_t>(ReadLittleEndian(entry + kPhysicalIdOffset, 2));
        if (id == 0) continue;  // unused slot
        media_raid_physical_disk_s disk;
        disk.id = id;
        disk.status = StatusOf(entry + kPhysicalStatusOffset, kPhysicalStatusSize);
        disks.push_back(disk);
    }
    OLOG(kLogError) << "getPhysicalDiskStatus End";
    return true;
}

}  // namespace orvale::recorder
