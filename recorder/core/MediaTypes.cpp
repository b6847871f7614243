#include <string>

#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {
namespace {

std::string TypeText(uint32_t type) {
    static const char* const kNames[] = {
        "MEDIA_DRIVE_TYPE_NONE",   "MEDIA_DRIVE_TYPE_NO_ROOT_DIR", "MEDIA_DRIVE_TYPE_REMOVABLE",
        "MEDIA_DRIVE_TYPE_FIXED",  "MEDIA_DRIVE_TYPE_REMOTE",      "MEDIA_DRIVE_TYPE_CDROM",
        "MEDIA_DRIVE_TYPE_RAMDISK"};
    if (type <= MEDIA_DRIVE_TYPE_RAMDISK) return std::string("type(") + kNames[type] + "), ";
    return "type(UNKNOWN=" + std::to_string(type) + "), ";
}

std::string StatusText(uint32_t status) {
    switch (status) {
        case MEDIA_DRIVE_STATUS_NONE:
            return "status(MEDIA_DRIVE_STATUS_NONE), ";
        case MEDIA_DRIVE_STATUS_ALLOCATE:
            return "status(MEDIA_DRIVE_STATUS_ALLOCATE), ";
        case MEDIA_DRIVE_STATUS_RELEASE:
            return "status(MEDIA_DRIVE_STATUS_RELEASE), ";
        case MEDIA_DRIVE_STATUS_SYSTEM_DISK:
            return "status(MEDIA_DRIVE_STATUS_SYSTEM_DISK), ";
        default:
            return "status(UNKNOWN=" + std::to_string(status) + "), ";
    }
}

}  // namespace

std::string media_drive_s::ToString() const {
    return "drive(" + name + "), " + TypeText(type) + StatusText(status);
}

}  // namespace orvale::recorder
