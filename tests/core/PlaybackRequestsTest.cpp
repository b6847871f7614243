// Every open and control request through MediaRecorder and the media it
// hands out is answered exactly once, and a medium goes on as its request
// says: one moved into a new session before its first frame plays on from
// its start; an open at an unusable time, a speed beyond the fastest rate
// and an open refused on a reading medium are answered with the failure code
// and change nothing; speed 0 shows one frame; a reverse open shows its
// first two key frames at once; an export cut short by a throwing callback
// ends with one final header that says it failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::kMainProfileType;
using test::kPlayStart;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 29;
constexpr auto kFrameWork = std::chrono::microseconds(2000);

class PlaybackRequestsTest : public test::PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record(cam_, {{kS, kLast}});
    }

    // A medium of its own, opened through its pointer; `answered` runs in
    // its open answer, before its first frame.
    PlaybackMedia* OpenOwn(uint32_t id, int64_t start, int speed,
                           std::function<void()> answered = {}) {
        PlaybackMedia* medium = engine_->CreatePlaybackMedia(id, 1, cam_, "");
        EXPECT_NE(medium, nullptr);
        if (medium == nullptr) return nullptr;
        medium->OpenMedia(static_cast<int>(id), start, kLast, speed, false, false, kMainProfileType,
                          sink_.Data(),
                          [this, answered = std::move(answered)](unsigned seq, unsigned result) {
                              if (answered) answered();
                              sink_.OpenAnswer()(seq, result);
                          });
        return medium;
    }

    std::string cam_ = "cam1";
};

// Moved into a new session from its open answer (so before its first
// frame), the medium plays on from its start, and a later PAUSE of the
// session is answered.
TEST_F(PlaybackRequestsTest, AMediumMovedIntoANewSessionBeforeItsFirstFramePlays) {
    OpenOwn(1, kS + 2, 1, [this] {
        engine_->ControlMedia(2, PLAYBACK_CONTROL_SESSION, 1, 0, 0, 0, kMainProfileType, "s", {});
    });
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 4); }))
        << "the session never took the medium's start";
    EXPECT_EQ(sink_.Videos(1).front().time, kS + 2);
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PAUSE, 0, 1, "s", 3));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Controls().size() == 1; }));
    EXPECT_EQ(sink_.Controls()[0].seq, 3u);
    EXPECT_EQ(sink_.Opens().size(), 1u);
}

// Stopped, moved into a new session (which takes no time from it) and then
// played through its own pointer at a time: answered, and it plays there.
TEST_F(PlaybackRequestsTest, AStoppedMediumMovedIntoASessionAnswersAndPlays) {
    PlaybackMedia* medium = OpenOwn(1, kS, 1);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS); }));
    medium->ControlMedia(2, PLAYBACK_CONTROL_STOP, 0, 1, kMainProfileType, sink_.Answer());
    engine_->ControlMedia(3, PLAYBACK_CONTROL_SESSION, 1, 0, 0, 0, kMainProfileType, "s", {});
    medium->ControlMedia(4, PLAYBACK_CONTROL_PAUSE, 0, 1, kMainProfileType, sink_.Answer());
    medium->ControlMedia(5, PLAYBACK_CONTROL_PLAY, kS + 10, 1, kMainProfileType, sink_.Answer());
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 11); }));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Controls().size() == 3; }));
    std::vector<unsigned> seqs;
    for (const auto& answer : sink_.Controls()) seqs.push_back(answer.seq);
    EXPECT_EQ(seqs, (std::vector<unsigned>{2, 4, 5}));
}

// An open into a new session at a time before any recording can be: the
// same failure answer as without a session, once.
TEST_F(PlaybackRequestsTest, AnOpenIntoANewSessionAtAnUnusableTimeIsAnsweredFailed) {
    const int64_t starts[] = {0, -1, std::numeric_limits<int64_t>::min()};
    uint32_t id = 1;
    for (const int64_t start : starts) {
        SCOPED_TRACE(start);
        for (const std::string session : {"", "new"}) {
            const std::string name = session.empty() ? "" : session + std::to_string(id);
            ASSERT_EQ(Open(id, cam_, start, kLast, name), MEDIA_ERROR_NONE);
            ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Opens().size() == id; }))
                << "no answer, session \"" << name << "\"";
            EXPECT_EQ(sink_.Opens().back().result, MEDIA_ERROR_OPEN_FAILED);
            ++id;
        }
    }
    EXPECT_TRUE(sink_.Videos().empty());
}

// Speeds beyond the fastest rate, either way, through MediaRecorder and
// through the medium's pointer: refused with the failure code, and the
// medium plays on as before.
TEST_F(PlaybackRequestsTest, AbsurdSpeedsAreRefusedAndPlaybackGoesOn) {
    const int speeds[] = {
        std::numeric_limits<int>::min(), std::numeric_limits<int>::min() + 1, -129, 129, 1000,
        std::numeric_limits<int>::max()};
    const unsigned types[] = {PLAYBACK_CONTROL_PLAY, PLAYBACK_CONTROL_SEEK, PLAYBACK_CONTROL_STEP,
                              PLAYBACK_CONTROL_PROFILE};
    uint32_t id = 1;
    for (const bool viaPointer : {false, true}) {
        ASSERT_EQ(Open(id, cam_, kS, kLast), MEDIA_ERROR_NONE);
        ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(id, kS); }));
        PlaybackMedia* medium = engine_->GetPlaybackMedia(id);
        ASSERT_NE(medium, nullptr);
        unsigned seq = 100;
        for (const unsigned type : types) {
            for (const int speed : speeds) {
                SCOPED_TRACE("type " + std::to_string(type) + ", speed " + std::to_string(speed) +
                             (viaPointer ? ", pointer" : ", engine"));
                ++seq;
                if (viaPointer) {
                    medium->ControlMedia(static_cast<int>(seq), type, kS + 5, speed,
                                         kMainProfileType, sink_.Answer());
                } else {
                    engine_->ControlMedia(seq, type, id, speed, 0, kS + 5, kMainProfileType, "",
                                          sink_.Answer());
                }
                ASSERT_TRUE(sink_.WaitFor([&] {
                    const auto answers = sink_.Controls();
                    return !answers.empty() && answers.back().seq == seq;
                }));
                EXPECT_EQ(sink_.Controls().back().result, MEDIA_ERROR_OPEN_FAILED);
                const size_t heard = sink_.Videos(id).size();
                ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Videos(id).size() >= heard + 2; }))
                    << "playback froze";
                EXPECT_TRUE(medium->IsOpened());
            }
        }
        engine_->DeletePlaybackMedia(id++);
    }

    // An open at such a speed through the pointer.
    for (const int speed : speeds) {
        SCOPED_TRACE(speed);
        const size_t opens = sink_.Opens().size();
        PlaybackMedia* medium = OpenOwn(id, kS, speed);
        ASSERT_NE(medium, nullptr);
        ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Opens().size() > opens; }));
        EXPECT_EQ(sink_.Opens().back().result, MEDIA_ERROR_OPEN_FAILED);
        EXPECT_FALSE(medium->IsOpened());
        engine_->DeletePlaybackMedia(id++);
    }
}

// An open refused on a medium that reads changes nothing of it: a backup
// of a playing medium, and any open during an export. The first caller
// keeps every frame and the exporter gets its final header.
TEST_F(PlaybackRequestsTest, ARefusedOpenLeavesTheReadingMediumAsItWas) {
    ASSERT_EQ(Open(1, cam_, kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS); }));
    test::Sink late;
    PlaybackMedia* playing = engine_->GetPlaybackMedia(1);
    playing->OpenMedia(7, kS + 5, kLast, 1, false, true, kMainProfileType, late.Data(),
                       late.OpenAnswer());
    ASSERT_TRUE(late.WaitFor([&] { return !late.Opens().empty(); }));
    EXPECT_EQ(late.Opens()[0].result, MEDIA_ERROR_OPEN_FAILED);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 1); }));
    EXPECT_EQ(late.Count(), 0u);
    EXPECT_TRUE(playing->IsOpened());

    // The export takes its time over each frame, so that the open comes
    // while it runs.
    ASSERT_EQ(Open(2, cam_, kS, kS + 9, "", false, true,
                   [](const test::Heard&) { std::this_thread::sleep_for(kFrameWork); }),
              MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Videos(2).size() >= 10; }));
    PlaybackMedia* exporting = engine_->GetPlaybackMedia(2);
    exporting->OpenMedia(8, kS + 5, kS + 6, 1, false, false, kMainProfileType, late.Data(),
                         late.OpenAnswer());
    ASSERT_TRUE(late.WaitFor([&] { return late.Opens().size() == 2; }));
    EXPECT_EQ(late.Opens()[1].result, MEDIA_ERROR_OPEN_FAILED);
    ASSERT_TRUE(sink_.WaitFor([&] {
        const auto all = sink_.All();
        return std::any_of(all.begin(), all.end(), [](const test::Heard& h) {
            return h.mediaId == 2 && h.backup && h.size == 0;
        });
    })) << "the exporter got no final header";
    EXPECT_EQ(sink_.Videos(2).size(), 10u * 25u);
    EXPECT_EQ(late.Count(), 0u);
    engine_->DeletePlaybackMedia(1);  // before the late sink goes
    engine_->DeletePlaybackMedia(2);
}

// Speed 0 has no rate to play at: a STEP at it while paused shows one
// frame, a PLAY at it while playing repositions and shows one frame; a PLAY
// at speed 1 then plays on.
TEST_F(PlaybackRequestsTest, StepAndPlayAtSpeedZeroShowOneFrameEach) {
    ASSERT_EQ(Open(1, cam_, kS, kLast, "", true), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Videos(1).size() == 1; }));
    for (size_t shown = 2; shown <= 3; ++shown) {
        ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_STEP, 0, 0));
        ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Videos(1).size() == shown; }))
            << "no frame for the step";
    }
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, 0, 1));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 1); }));

    const int64_t at = sink_.Videos(1).back().time;
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, at, 0));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.Controls().size() == 4; }));
    // Its key frame was shown once as it played, and once more now.
    ASSERT_TRUE(sink_.WaitFor([&] {
        const auto videos = sink_.Videos(1);
        return std::count_if(videos.begin(), videos.end(),
                             [&](const test::Heard& h) { return h.key && h.time == at; }) == 2;
    })) << "the repositioning showed no frame";
    const size_t shown = sink_.Videos(1).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sink_.Videos(1).size(), shown) << "it holds after the frame";
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, 0, 1));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, at + 2); }));
    EXPECT_TRUE(engine_->GetPlaybackMedia(1)->IsOpened());
    for (const auto& answer : sink_.Controls()) EXPECT_EQ(answer.result, MEDIA_ERROR_NONE);
}

// A reverse open passes over the continuity of its first two key frames:
// at speed -16 over ten recorded seconds the second newest comes with the
// newest, then every second one, down to the first recorded second.
TEST_F(PlaybackRequestsTest, AReverseOpenShowsItsFirstTwoKeyFramesTogether) {
    PlaybackMedia* medium = OpenOwn(1, kS + 9, -16);
    ASSERT_NE(medium, nullptr);
    // It closes once it has reached the first recorded second.
    ASSERT_TRUE(sink_.WaitFor([&] { return !sink_.Videos(1).empty() && !medium->IsOpened(); }));
    std::vector<int64_t> shown;
    for (const auto& v : sink_.Videos(1)) shown.push_back(v.time - kS);
    EXPECT_EQ(shown, (std::vector<int64_t>{9, 8, 6, 4, 2, 0}));
}

// The final headers of one medium's exports, in the order heard, with the
// number of frames heard before each.
std::vector<std::pair<int, size_t>> Finals(test::Sink& sink, uint32_t id) {
    std::vector<std::pair<int, size_t>> finals;
    size_t frames = 0;
    for (const auto& h : sink.All()) {
        if (h.mediaId != id || h.kind != 1) continue;
        if (h.backup && h.size == 0) {
            finals.emplace_back(h.endMarker, frames);
        } else if (h.size > 0) {
            ++frames;
        }
    }
    return finals;
}

// An export whose data callback throws ends with one final header that says
// it failed.
TEST_F(PlaybackRequestsTest, AnExportWhoseCallbackThrowsEndsFailed) {
    int heard = 0;
    ASSERT_EQ(Open(1, cam_, kS, kS + 5, "", false, true,
                   [&heard](const test::Heard& h) {
                       if (h.kind == 1 && h.size > 0 && ++heard == 10) {
                           throw std::runtime_error("host failed");
                       }
                   }),
              MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return !Finals(sink_, 1).empty(); })) << "no final header";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Finals(sink_, 1), (std::vector<std::pair<int, size_t>>{{4, 10}}));
}

// An export that could not start, whose open answer throws, leaves nothing
// behind: the next export of the medium ends with its own final header,
// after its last frame.
TEST_F(PlaybackRequestsTest, AThrowingOpenAnswerLeavesNothingToTheNextExport) {
    PlaybackMedia* medium = engine_->CreatePlaybackMedia(1, 1, cam_, "");
    ASSERT_NE(medium, nullptr);
    std::atomic<bool> answered{false};
    medium->OpenMedia(1, kLast + 100, kLast + 200, 1, false, true, kMainProfileType, sink_.Data(),
                      [&answered](unsigned, unsigned) {
                          answered = true;
                          throw std::runtime_error("host failed");
                      });
    ASSERT_TRUE(sink_.WaitFor([&] { return answered && !Finals(sink_, 1).empty(); }));
    EXPECT_EQ(Finals(sink_, 1), (std::vector<std::pair<int, size_t>>{{4, 0}}));

    test::Sink next;
    medium->OpenMedia(2, kS, kS + 1, 1, false, true, kMainProfileType, next.Data(),
                      next.OpenAnswer());
    ASSERT_TRUE(next.WaitFor([&] { return !Finals(next, 1).empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Finals(next, 1), (std::vector<std::pair<int, size_t>>{{3, 50}}));
    engine_->DeletePlaybackMedia(1);  // before its sink goes
}

}  // namespace
}  // namespace orvale::recorder
