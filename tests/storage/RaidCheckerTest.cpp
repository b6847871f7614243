#include "recorder/storage/RaidChecker.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "platform/HostFolder.h"
#include "tests/storage/FakeRaid.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

using test::FakeRaidLogical;
using test::FakeRaidPhysical;
using test::FakeRaidScenario;

constexpr const char* kVariable = "OSTREL_RAID_LIBRARY";

template <typename Entry>
Entry WithStatus(Entry entry, std::string_view text) {
    std::memcpy(entry.status, text.data(), std::min(text.size(), test::kFakeStatusBytes));
    return entry;
}

FakeRaidLogical Logical(uint16_t id, std::string_view status, uint64_t value = 0) {
    FakeRaidLogical entry;
    entry.id = id;
    entry.value = value;
    return WithStatus(entry, status);
}

FakeRaidPhysical Physical(uint16_t id, std::string_view status) {
    FakeRaidPhysical entry;
    entry.id = id;
    return WithStatus(entry, status);
}

struct Query {
    bool virtualResult = false;
    bool physicalResult = false;
    media_raid_info_s info;
};

// The engine's calling order: a new checker, the virtual disks, then the
// physical disks.
Query QueryBoth() {
    Query query;
    RaidChecker checker;
    query.virtualResult = checker.getVirtualDiskStatus(query.info.virtualDisks);
    query.physicalResult = checker.getPhysicalDiskStatus(query.info.physicalDisks);
    return query;
}

std::vector<int32_t> VirtualStatuses(const media_raid_info_s& info) {
    std::vector<int32_t> statuses;
    for (const auto& disk : info.virtualDisks) statuses.push_back(disk.status);
    return statuses;
}

std::vector<int32_t> PhysicalStatuses(const media_raid_info_s& info) {
    std::vector<int32_t> statuses;
    for (const auto& disk : info.physicalDisks) statuses.push_back(disk.status);
    return statuses;
}

class RaidCheckerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // No library may come from beside the test program.
        platform::SetHostFolder(host_.Str());
        Use(FAKE_RAID_LIBRARY);
    }
    void TearDown() override {
        ::unsetenv(kVariable);
        platform::SetHostFolder("");
    }

    // Points the engine at `file` and loads it here as well, to steer it.
    void Use(const std::string& file) {
        ::setenv(kVariable, file.c_str(), 1);
        steering_ = platform::DynamicLibrary::Open(file);
        ASSERT_NE(steering_, nullptr) << file;
    }

    void Configure(const FakeRaidScenario& scenario) {
        const auto configure =
            steering_->Function<test::FakeRaidConfigureFunction>("FakeRaid_Configure");
        ASSERT_NE(configure, nullptr);
        configure(&scenario);
    }

    // One healthy logical drive and one healthy physical disk.
    void ConfigureHealthy() {
        static const FakeRaidLogical logical[] = {Logical(1, "OK", 100)};
        static const FakeRaidPhysical physical[] = {Physical(7, "OK")};
        FakeRaidScenario scenario;
        scenario.logicalCount = 1;
        scenario.logical = logical;
        scenario.logicalEntries = 1;
        scenario.physicalCount = 1;
        scenario.physical = physical;
        scenario.physicalEntries = 1;
        Configure(scenario);
    }

    test::TempDir host_;
    std::unique_ptr<platform::DynamicLibrary> steering_;
};

TEST_F(RaidCheckerTest, WithoutTheLibraryBothQueriesFailAndAppendNothing) {
    ::setenv(kVariable, (host_.Str() + "/libi2bdg.so").c_str(), 1);
    const Query query = QueryBoth();
    EXPECT_FALSE(query.virtualResult);
    EXPECT_FALSE(query.physicalResult);
    EXPECT_TRUE(query.info.virtualDisks.empty());
    EXPECT_TRUE(query.info.physicalDisks.empty());
}

TEST_F(RaidCheckerTest, AMissingFunctionFailsOnlyTheQueryThatNeedsIt) {
    struct Case {
        const char* library;
        bool virtualResult;
        bool physicalResult;
    };
    const Case cases[] = {
        {FAKE_RAID_WITHOUT_LOGICAL, false, true},
        {FAKE_RAID_WITHOUT_ELEMENT, true, false},
        {FAKE_RAID_WITHOUT_PHYSICAL, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        Use(c.library);
        ConfigureHealthy();
        const Query query = QueryBoth();
        EXPECT_EQ(query.virtualResult, c.virtualResult);
        EXPECT_EQ(query.physicalResult, c.physicalResult);
        EXPECT_EQ(query.info.virtualDisks.size(), c.virtualResult ? 1U : 0U);
        EXPECT_EQ(query.info.physicalDisks.size(), c.physicalResult ? 1U : 0U);
    }
}

TEST_F(RaidCheckerTest, AFailingFunctionFailsItsQueryAndAppendsNothing) {
    static const FakeRaidLogical logical[] = {Logical(1, "OK")};
    static const FakeRaidPhysical physical[] = {Physical(7, "OK")};
    const struct {
        int FakeRaidScenario::*result;
        bool virtualResult;
        bool physicalResult;
    } cases[] = {
        {&FakeRaidScenario::logicalResult, false, true},
        {&FakeRaidScenario::elementResult, true, false},
        {&FakeRaidScenario::physicalResult, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.virtualResult ? "physical side" : "virtual side");
        FakeRaidScenario scenario;
        scenario.logicalCount = 1;
        scenario.logical = logical;
        scenario.logicalEntries = 1;
        scenario.physicalCount = 1;
        scenario.physical = physical;
        scenario.physicalEntries = 1;
        scenario.*c.result = -5;
        Configure(scenario);
        const Query query = QueryBoth();
        EXPECT_EQ(query.virtualResult, c.virtualResult);
        EXPECT_EQ(query.physicalResult, c.physicalResult);
        EXPECT_EQ(query.info.virtualDisks.size(), c.virtualResult ? 1U : 0U);
        EXPECT_EQ(query.info.physicalDisks.size(), c.physicalResult ? 1U : 0U);
    }
}

TEST_F(RaidCheckerTest, OnlyExactlyOkWithinItsFieldIsHealthy) {
    const std::string fullWidth = "OK" + std::string(test::kFakeStatusBytes - 2, 'X');
    const struct {
        std::string text;
        int32_t status;
    } cases[] = {
        {"OK", 0},       {std::string("OK\0after", 8), 0},
        {"ok", 1},       {"OK ", 1},
        {" OK", 1},      {"O", 1},
        {"OKAY", 1},     {"", 1},
        {"Degraded", 1}, {fullWidth, 1},
    };
    std::vector<FakeRaidLogical> logical;
    std::vector<FakeRaidPhysical> physical;
    std::vector<int32_t> expected;
    for (const auto& c : cases) {
        const auto id = static_cast<uint16_t>(logical.size() + 1);
        // A non-zero value right behind the field: a text read past its field
        // would run into it.
        logical.push_back(Logical(id, c.text, 0x4B4F4B4F4B4F4B4F));
        physical.push_back(Physical(id, c.text));
        expected.push_back(c.status);
    }
    FakeRaidScenario scenario;
    scenario.logicalCount = static_cast<uint32_t>(logical.size());
    scenario.logical = logical.data();
    scenario.logicalEntries = logical.size();
    scenario.physicalCount = static_cast<uint8_t>(physical.size());
    scenario.physical = physical.data();
    scenario.physicalEntries = physical.size();
    Configure(scenario);

    const Query query = QueryBoth();
    ASSERT_TRUE(query.virtualResult);
    ASSERT_TRUE(query.physicalResult);
    EXPECT_EQ(VirtualStatuses(query.info), expected);
    EXPECT_EQ(PhysicalStatuses(query.info), expected);
}

TEST_F(RaidCheckerTest, LogicalDrivesKeepTheirOrderIdsAndValuesAndQueriesAppend) {
    static const FakeRaidLogical logical[] = {
        Logical(0xBEEF, "Rebuilding", 0x0123456789ABCDEF),
        Logical(2, "OK", 4096),
    };
    FakeRaidScenario scenario;
    scenario.logicalCount = 2;
    scenario.logical = logical;
    scenario.logicalEntries = 2;
    Configure(scenario);

    media_raid_info_s info;
    RaidChecker checker;
    ASSERT_TRUE(checker.getVirtualDiskStatus(info.virtualDisks));
    ASSERT_TRUE(checker.getVirtualDiskStatus(info.virtualDisks));
    ASSERT_EQ(info.virtualDisks.size(), 4U);
    auto disk = info.virtualDisks.begin();
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(disk->status, 1);
        EXPECT_EQ(disk->id, 0xBEEF);
        EXPECT_EQ(disk->value, 0x0123456789ABCDEF);
        ++disk;
        EXPECT_EQ(disk->status, 0);
        EXPECT_EQ(disk->id, 2);
        EXPECT_EQ(disk->value, 4096);
        ++disk;
    }
}

TEST_F(RaidCheckerTest, UnusedPhysicalSlotsAreSkipped) {
    static const FakeRaidPhysical physical[] = {Physical(3, "OK"), Physical(0, "OK"),
                                                Physical(0, "Failed"), Physical(9, "Failed")};
    FakeRaidScenario scenario;
    scenario.physicalCount = 4;
    scenario.physical = physical;
    scenario.physicalEntries = 4;
    Configure(scenario);

    const Query query = QueryBoth();
    ASSERT_TRUE(query.physicalResult);
    ASSERT_EQ(query.info.physicalDisks.size(), 2U);
    EXPECT_EQ(query.info.physicalDisks.front().id, 3);
    EXPECT_EQ(query.info.physicalDisks.front().status, 0);
    EXPECT_EQ(query.info.physicalDisks.back().id, 9);
    EXPECT_EQ(query.info.physicalDisks.back().status, 1);
}

TEST_F(RaidCheckerTest, NoPhysicalDisksIsSuccessWithNoEntries) {
    Configure(FakeRaidScenario{});
    const Query query = QueryBoth();
    EXPECT_TRUE(query.virtualResult);
    EXPECT_TRUE(query.physicalResult);
    EXPECT_TRUE(query.info.virtualDisks.empty());
    EXPECT_TRUE(query.info.physicalDisks.empty());
}

TEST_F(RaidCheckerTest, HostileCountsAreClampedToTheBuffers) {
    static const FakeRaidLogical logical[] = {Logical(1, "OK", 1), Logical(2, "OK", 2)};
    // Every slot used, each text filling its field without an end: the last
    // one ends exactly at the end of the buffer.
    std::vector<FakeRaidPhysical> physical(255);
    for (size_t i = 0; i < physical.size(); ++i) {
        physical[i] =
            Physical(static_cast<uint16_t>(i + 1), std::string(test::kFakeStatusBytes, 'K'));
    }
    FakeRaidScenario scenario;
    scenario.logicalCount = 0xFFFFFFFF;
    scenario.logical = logical;
    scenario.logicalEntries = 2;
    scenario.physicalCount = 255;
    scenario.physical = physical.data();
    scenario.physicalEntries = physical.size();
    Configure(scenario);

    const Query query = QueryBoth();
    ASSERT_TRUE(query.virtualResult);
    ASSERT_TRUE(query.physicalResult);
    // (65535 - 4) / 96 whole entries fit the logical-drive buffer.
    ASSERT_EQ(query.info.virtualDisks.size(), 682U);
    EXPECT_EQ(query.info.virtualDisks.front().status, 0);
    EXPECT_EQ(query.info.virtualDisks.back().status, 1);
    EXPECT_EQ(query.info.virtualDisks.back().id, 0);
    ASSERT_EQ(query.info.physicalDisks.size(), 255U);
    EXPECT_EQ(query.info.physicalDisks.back().id, 255);
    EXPECT_EQ(PhysicalStatuses(query.info), std::vector<int32_t>(255, 1));
}

TEST_F(RaidCheckerTest, ACountBelowTheEntriesWrittenReadsOnlyTheCount) {
    static const FakeRaidLogical logical[] = {Logical(1, "OK"), Logical(2, "OK"),
                                              Logical(3, "Bad")};
    static const FakeRaidPhysical physical[] = {Physical(1, "OK"), Physical(2, "OK")};
    FakeRaidScenario scenario;
    scenario.logicalCount = 2;
    scenario.logical = logical;
    scenario.logicalEntries = 3;
    scenario.physicalCount = 1;
    scenario.physical = physical;
    scenario.physicalEntries = 2;
    Configure(scenario);

    const Query query = QueryBoth();
    EXPECT_EQ(VirtualStatuses(query.info), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(PhysicalStatuses(query.info), (std::vector<int32_t>{0}));
}

}  // namespace
}  // namespace orvale::recorder
