// Worked cases of frame-to-frame tracking on grid boxes.
#include "rules/Tracker.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

namespace orvale::rules {
namespace {

uint64_t Bit(int32_t number) {
    return uint64_t{1} << (number - 1);
}

class TrackerTest : public ::testing::Test {
  protected:
    // Tracks one frame and keeps its blob list; false for a seeding frame.
    bool Step(const std::vector<GridBox>& boxes) {
        std::vector<FrameBox> frame;
        for (size_t i = 0; i < boxes.size(); ++i) {
            frame.push_back({boxes[i], static_cast<int32_t>(i)});
        }
        const bool matched = tracker_->Track(frame.data(), static_cast<int32_t>(frame.size()));
        blobs_ = tracker_->Current();
        newTracks_ = tracker_->NewTracks();
        tracker_->EndFrame();
        return matched;
    }

    std::vector<int32_t> Numbers() const { return Field(&Blob::trackNumber); }
    std::vector<int32_t> Ages() const { return Field(&Blob::age); }
    std::vector<int32_t> FrameIndexes() const { return Field(&Blob::frameIndex); }

    std::vector<int32_t> Field(int32_t Blob::*field) const {
        std::vector<int32_t> out;
        out.reserve(blobs_.count);
        for (int32_t i = 0; i < blobs_.count; ++i) out.push_back(blobs_.blobs[i].*field);
        return out;
    }

    std::unique_ptr<Tracker> tracker_ = std::make_unique<Tracker>();
    BlobList blobs_;
    uint64_t newTracks_ = 0;
};

const GridBox kA{100, 100, 140, 140};
const GridBox kFar{250, 20, 270, 40};

TEST_F(TrackerTest, TheFirstFrameSeedsAndItsBlobsAreConfirmedAtTheirFirstMatch) {
    EXPECT_FALSE(Step({kA, kFar}));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(Ages(), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(newTracks_, Bit(1) | Bit(2));

    EXPECT_TRUE(Step({{104, 100, 144, 140}, kFar}));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(Ages(), (std::vector<int32_t>{kConfirmedAge, kConfirmedAge}));
    EXPECT_EQ(blobs_.blobs[0].previous, kA);
    EXPECT_EQ(newTracks_, 0U);
}

TEST_F(TrackerTest, ANewTrackIsConfirmedFiveMatchedFramesLater) {
    Step({kA});
    const GridBox late{200, 180, 220, 200};
    std::vector<int32_t> ages;
    for (int i = 0; i < 6; ++i) {
        Step({kA, late});
        ages.push_back(Ages()[1]);
    }
    EXPECT_EQ(ages, (std::vector<int32_t>{20, 21, 22, 23, 24, 25}));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 2}));
}

TEST_F(TrackerTest, ANumberReleasedInAFrameIsReusedOnlyInALaterOne) {
    Step({kA, kFar});
    Step({kA, {10, 200, 30, 220}});  // kFar's track ends; the newcomer does not get 2
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(newTracks_, Bit(3));
    Step({kA, {10, 200, 30, 220}, kFar});
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 3, 2}));
    EXPECT_EQ(newTracks_, Bit(2));
}

TEST_F(TrackerTest, AFrameWithoutBlobsEndsEveryTrack) {
    Step({kA});
    Step({kA});
    EXPECT_TRUE(Step({}));
    EXPECT_FALSE(Step({kA}));  // seeds again
    EXPECT_EQ(Ages(), (std::vector<int32_t>{0}));
}

TEST_F(TrackerTest, BoxesOfNegativeOrOversizedExtentAreLeftOut) {
    Step({{0, 0, 321, 10}, kA, {50, 60, 40, 70}, {0, 0, 320, 240}, {5, 9, 6, 8}});
    EXPECT_EQ(FrameIndexes(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 2}));
}

struct SlackCase {
    const char* name;
    GridBox first;
    GridBox second;
    int confirmingFrames;  // matched frames before the step, so the age is known
    bool followed;
    friend void PrintTo(const SlackCase& c, std::ostream* out) { *out << c.name; }
};

class MatchingSlack : public TrackerTest, public ::testing::WithParamInterface<SlackCase> {};

TEST_P(MatchingSlack, YoungOrTinyBoxesAreWidenedForTheOverlapOnly) {
    const SlackCase& c = GetParam();
    Step({c.first, kFar});
    for (int i = 0; i < c.confirmingFrames; ++i) Step({c.first, kFar});
    Step({c.second, kFar});
    EXPECT_EQ(Numbers()[0] == 1, c.followed);
    if (c.followed) {
        EXPECT_EQ(blobs_.blobs[0].previous, c.first);  // not the widened box
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, MatchingSlack,
    ::testing::Values(
        // 2 units right of a 3 x 3 box: within the 3 units of slack.
        SlackCase{"TinyBoxBeside", {100, 100, 103, 103}, {105, 100, 108, 103}, 3, true},
        SlackCase{"TinyBoxTooFar", {100, 100, 103, 103}, {107, 100, 110, 103}, 3, false},
        // A seeded box is young (age 0) whatever its size.
        SlackCase{"YoungBoxBeside", kA, {142, 100, 182, 140}, 0, true},
        SlackCase{"ConfirmedBoxBeside", kA, {142, 100, 182, 140}, 1, false},
        SlackCase{"TinyBoxAtTheEdgeOfTheGrid", {317, 0, 320, 3}, {318, 4, 320, 6}, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrackerTest, ASplitKeepsTheTrackOnTheLargerOverlap) {
    Step({kA});
    Step({kA});
    Step({{100, 100, 115, 140}, {116, 100, 140, 140}});  // overlaps 600 and 960
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(Ages(), (std::vector<int32_t>{kNewTrackAge, kConfirmedAge}));
    EXPECT_EQ(newTracks_, Bit(2));
}

TEST_F(TrackerTest, ASplitHandsTheRestToATrackThatNobodyFollowed) {
    const GridBox b{135, 100, 170, 140};
    Step({kA, b});
    Step({kA, b});
    // Both new boxes overlap kA most; the second also overlaps b, whose own
    // box is gone: it continues b's track.
    Step({{100, 100, 125, 140}, {126, 100, 140, 140}});
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(blobs_.blobs[1].previous, b);
    EXPECT_EQ(newTracks_, 0U);
}

TEST_F(TrackerTest, ATinyBlobOfASplitIsMergedIntoItsNeighbour) {
    Step({kA});
    Step({kA});
    Step({{100, 100, 138, 140}, {139, 110, 142, 113}});
    ASSERT_EQ(blobs_.count, 1);
    EXPECT_EQ(blobs_.blobs[0].box, (GridBox{100, 100, 142, 140}));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1}));
    EXPECT_EQ(FrameIndexes(), (std::vector<int32_t>{0}));
    EXPECT_TRUE(Step({{100, 100, 142, 140}}));  // the merged blob is the track's next box
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{1}));
}

// A young box's slack is capped at the picture, which leaves a box wholly
// beyond it no slack to overlap with: it starts a new track. Once no longer
// young it is matched without slack and followed.
TEST_F(TrackerTest, BoxesBeyondTheGridAreFollowedOnceNoLongerYoung) {
    std::vector<GridBox> boxes{
        {-300, -200, -280, -180}, {900, 700, 1000, 780}, {-50, 300, 10, 360}};
    auto move = [&boxes] {
        for (GridBox& box : boxes) {
            box.x1 += 5;
            box.x2 += 5;
        }
    };
    Step(boxes);
    move();
    EXPECT_TRUE(Step(boxes));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{4, 5, 6}));
    EXPECT_EQ(Ages(), (std::vector<int32_t>{kNewTrackAge, kNewTrackAge, kNewTrackAge}));
    move();
    EXPECT_TRUE(Step(boxes));
    EXPECT_EQ(Numbers(), (std::vector<int32_t>{4, 5, 6}));
    EXPECT_EQ(Ages(), (std::vector<int32_t>{kNewTrackAge + 1, kNewTrackAge + 1, kNewTrackAge + 1}));
}

TEST_F(TrackerTest, ThirtyObjectsKeepTheirNumbersWhileTheyMove) {
    std::vector<GridBox> boxes;
    boxes.reserve(30);
    for (int32_t i = 0; i < 30; ++i) boxes.push_back({10 * i, 100, 10 * i + 6, 106});
    Step(boxes);
    for (int f = 0; f < 10; ++f) {
        for (GridBox& box : boxes) {
            box.y1 += 2;
            box.y2 += 2;
        }
        Step(boxes);
    }
    std::vector<int32_t> expected;
    for (int32_t i = 1; i <= 30; ++i) expected.push_back(i);
    EXPECT_EQ(Numbers(), expected);
}

}  // namespace
}  // namespace orvale::rules
