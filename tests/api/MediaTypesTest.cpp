#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

#include "recorder/api/MediaRecorder.h"

namespace orvale::recorder {
namespace {

TEST(MediaChannelTest, Defaults) {
    const media_channel_s channel;
    EXPECT_TRUE(channel.id.empty() && channel.scheduleId.empty() && channel.disk.empty());
    EXPECT_EQ(channel.retentionTime, 0u);
    EXPECT_EQ(channel.protocol, 0);
    const media_event_duration_s* groups[] = {&channel.motion, &channel.alarm, &channel.iv,
                                              &channel.audio};
    for (const auto* group : groups) {
        EXPECT_EQ(group->eventValue, 0);
        EXPECT_EQ(group->preRecTime, 0u);
        EXPECT_EQ(group->postRecTime, 10u);
    }
    EXPECT_EQ(channel.videoLoss.preRecTime, 0u);
    EXPECT_EQ(channel.videoLoss.postRecTime, 0u);
    EXPECT_EQ(channel.extraValue, 0u);
    EXPECT_TRUE(channel.audioRecord);
    EXPECT_FALSE(channel.arb || channel.continuousOnlyForLow || channel.encrypt ||
                 channel.failoverStatus);
}

TEST(MediaChannelTest, EventGroupsFormOneBlock) {
    // Recorders take motion..audio and extraValue as one contiguous block.
    EXPECT_EQ(offsetof(media_channel_s, alarm) - offsetof(media_channel_s, motion),
              sizeof(media_event_duration_s));
    EXPECT_EQ(offsetof(media_channel_s, extraValue) - offsetof(media_channel_s, motion),
              5 * sizeof(media_event_duration_s) + 4);  // padded to the 64-bit field
}

TEST(MediaDriveTest, ToString) {
    struct Case {
        uint32_t type;
        uint32_t status;
        const char* text;
    };
    const Case cases[] = {
        {3, 1, "drive(D), type(MEDIA_DRIVE_TYPE_FIXED), status(MEDIA_DRIVE_STATUS_ALLOCATE), "},
        {0, 0, "drive(D), type(MEDIA_DRIVE_TYPE_NONE), status(MEDIA_DRIVE_STATUS_NONE), "},
        {6, 4,
         "drive(D), type(MEDIA_DRIVE_TYPE_RAMDISK), status(MEDIA_DRIVE_STATUS_SYSTEM_DISK), "},
        {2, 2, "drive(D), type(MEDIA_DRIVE_TYPE_REMOVABLE), status(MEDIA_DRIVE_STATUS_RELEASE), "},
        {3, 3, "drive(D), type(MEDIA_DRIVE_TYPE_FIXED), status(UNKNOWN=3), "},
        {9, 1, "drive(D), type(UNKNOWN=9), status(MEDIA_DRIVE_STATUS_ALLOCATE), "},
    };
    for (const auto& c : cases) {
        media_drive_s drive{"D", c.type, c.status, 11};
        EXPECT_EQ(drive.ToString(), c.text);
    }
}

TEST(MediaScheduleTest, LayoutAndDefaults) {
    EXPECT_EQ(sizeof(media_schedule_s), 69121u);
    auto schedule = std::make_unique<media_schedule_s>();
    EXPECT_FALSE(schedule->useHoliday);
    EXPECT_EQ(schedule->table[kScheduleTableSize - 1], 0);
}

TEST(MediaRecordsTest, WireSizesAndDefaults) {
    EXPECT_EQ(sizeof(media_holiday_s), 20u);
    EXPECT_EQ(sizeof(media_drive_info_s), 20u);
    EXPECT_EQ(offsetof(playback_media_header_s, video), 16u);
    const playback_media_header_s header;
    EXPECT_EQ(header.video.time, 0);
    EXPECT_EQ(header.video.endMarker, 0);
    EXPECT_EQ(MEDIA_ERROR_TOO_MANY_MEDIA, 1093u);
    EXPECT_EQ(MEDIA_ERROR_BACKUP_REFUSED, 4177u);
    const media_bookmark_s bookmark;
    EXPECT_EQ(bookmark.rowId, 0);
    EXPECT_FALSE(bookmark.lock);
}

}  // namespace
}  // namespace orvale::recorder
