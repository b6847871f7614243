#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "recorder/storage/FolderInUseContainer.h"

namespace orvale::recorder {
namespace {

const char* const kHour = "/srv/rec1/KVTRecordData/cam1/2024/01/31/23";

TEST(HourFolderKeyTest, EveryRegistrantNamesTheHourAlike) {
    const std::string key = HourFolderKey(kHour);
    EXPECT_EQ(key, kHour);
    EXPECT_EQ(HourFolderKey(std::string(kHour) + "/"), key);
    EXPECT_EQ(HourFolderKeyOfTrackFolder(std::string(kHour) + "/0001"), key);
    EXPECT_EQ(HourFolderKeyOfTrackFolder(std::string(kHour) + "/0001/"), key);
    EXPECT_EQ(HourFolderKeyOfFile(std::string(kHour) + "/0001/20240131230000.kvtidx"), key);
    EXPECT_EQ(HourFolderKeyOfFile("/srv/rec1//KVTRecordData/cam1/2024/01/31/23/./0001/x.kvtmtd"),
              key);
}

TEST(FolderInUseTest, HourStaysInUseUntilEveryUserIsGone) {
    auto folders = FolderInUseContainer::Create();
    auto writer = std::make_unique<FolderInUseRegistration>(
        folders, HourFolderKeyOfTrackFolder(std::string(kHour) + "/0001"));
    auto reader1 = std::make_unique<FolderInUseRegistration>(
        folders, HourFolderKeyOfFile(std::string(kHour) + "/0001/20240131230000.kvtidx"));
    auto reader2 = std::make_unique<FolderInUseRegistration>(folders, HourFolderKey(kHour));
    writer.reset();
    reader1.reset();
    EXPECT_TRUE(folders->IsInUse(kHour));
    reader2.reset();
    EXPECT_FALSE(folders->IsInUse(kHour));
}

TEST(FolderInUseTest, ReleaseOfAnUnknownFolderChangesNothing) {
    auto folders = FolderInUseContainer::Create();
    folders->Add(kHour);
    folders->Release("/srv/rec1/KVTRecordData/cam1/2024/01/31/22");
    EXPECT_TRUE(folders->IsInUse(kHour));
    EXPECT_FALSE(folders->IsInUse("/srv/rec1/KVTRecordData/CAM1/2024/01/31/23"));
    folders->Release(kHour);
    folders->Release(kHour);  // one more than added: stays released
    EXPECT_FALSE(folders->IsInUse(kHour));
    folders->Add(kHour);
    EXPECT_TRUE(folders->IsInUse(kHour));
}

// An object made without a container neither holds an hour nor, when it
// goes, releases the hour that a tracked user of the same key holds.
TEST(FolderInUseTest, RegistrationWithoutContainerLeavesTheCountsAlone) {
    auto folders = FolderInUseContainer::Create();
    auto tracked = std::make_unique<FolderInUseRegistration>(folders, HourFolderKey(kHour));
    std::make_unique<FolderInUseRegistration>(nullptr, HourFolderKey(kHour)).reset();
    EXPECT_TRUE(folders->IsInUse(kHour));
    tracked.reset();
    EXPECT_FALSE(folders->IsInUse(kHour));
}

}  // namespace
}  // namespace orvale::recorder
