// Every kind of playback callback, reached through MediaRecorder and through
// the medium's own pointer, calls each playback method of MediaRecorder while
// the timer ticks: none of them hangs, and another medium goes on playing.
// Each case runs under a watchdog that ends the process after 10 s, so that
// a hang fails the test instead of stalling the run.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>

#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::Heard;
using test::kPlayStart;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 9;
constexpr uint32_t kSubject = 1;
constexpr uint32_t kWitness = 9;
constexpr uint32_t kCreated = 20;
constexpr uint32_t kOpened = 21;

// The callback that calls the engine.
enum class Answer { kOpen, kControl, kStop, kData, kFinalHeader };
// How the subject medium was opened and controlled.
enum class Via { kEngine, kPointer };
// What the callback calls.
enum class Call { kCreate, kOpen, kControl, kGet, kDelete, kSession };

constexpr std::array<const char*, 5> kAnswerNames = {"OpenAnswer", "ControlAnswer", "StopAnswer",
                                                     "Data", "FinalHeader"};
constexpr std::array<const char*, 2> kViaNames = {"Engine", "Pointer"};
constexpr std::array<const char*, 6> kCallNames = {"Create", "Open",   "Control",
                                                   "Get",    "Delete", "SessionChange"};

using Case = std::tuple<Answer, Via, Call>;

void PrintTo(Answer answer, std::ostream* out) {
    *out << kAnswerNames[static_cast<size_t>(answer)];
}
void PrintTo(Via via, std::ostream* out) {
    *out << kViaNames[static_cast<size_t>(via)];
}
void PrintTo(Call call, std::ostream* out) {
    *out << kCallNames[static_cast<size_t>(call)];
}

std::string CaseName(const Case& c) {
    return std::string(kAnswerNames[static_cast<size_t>(std::get<0>(c))]) + "Via" +
           kViaNames[static_cast<size_t>(std::get<1>(c))] + "Calls" +
           kCallNames[static_cast<size_t>(std::get<2>(c))];
}

// Ends the process when it is not dismissed within 10 s.
class Watchdog {
  public:
    explicit Watchdog(std::string what)
        : thread_([this, what = std::move(what)] {
              std::unique_lock lock(mutex_);
              if (!dismissed_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; })) {
                  std::fprintf(stderr, "hung for 10 s: %s\n", what.c_str());
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        dismissed_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable dismissed_;
    bool done_ = false;
    std::thread thread_;
};

class PlaybackReentryTest : public test::PlaybackEngineFixture,
                            public ::testing::WithParamInterface<Case> {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record("cam1", {{kS, kLast}});
        Record("cam2", {{kS, kLast}});
    }

    // Once: a pause that lets the timer's tick reach the subject meanwhile,
    // then the engine call.
    void CallEngine() {
        if (fired_.exchange(true)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        std::string cam = "cam1";
        switch (std::get<2>(GetParam())) {
            case Call::kCreate:
                EXPECT_NE(engine_->CreatePlaybackMedia(kCreated, 1, cam, ""), nullptr);
                break;
            case Call::kOpen:
                EXPECT_EQ(engine_->OpenMedia(kOpened, kS, kLast, 1, kOpened, cam, false, false,
                                             test::kMainProfileType, "", other_.Data(),
                                             other_.OpenAnswer()),
                          MEDIA_ERROR_NONE);
                break;
            case Call::kControl:
                engine_->ControlMedia(30, PLAYBACK_CONTROL_PLAY, kSubject, 1, 0, kS + 5,
                                      test::kMainProfileType, "", {});
                break;
            case Call::kGet:
                EXPECT_NE(engine_->GetPlaybackMedia(kSubject), nullptr);
                break;
            case Call::kDelete:
                engine_->DeletePlaybackMedia(kSubject);
                break;
            case Call::kSession:
                engine_->ControlMedia(31, PLAYBACK_CONTROL_SESSION, kSubject, 0, 0, 0,
                                      test::kMainProfileType, "s", {});
                break;
        }
        called_ = true;
    }

    OpenMediaCallback Data() {
        const Answer answer = std::get<0>(GetParam());
        return sink_.Data([this, answer](const Heard& h) {
            if (h.kind != 1) return;
            const bool final = h.backup && h.size == 0;
            if ((answer == Answer::kData && !final) || (answer == Answer::kFinalHeader && final)) {
                CallEngine();
            }
        });
    }
    OpenMediaResponseCallback OpenAnswer() {
        return [this](unsigned, unsigned) {
            if (std::get<0>(GetParam()) == Answer::kOpen) CallEngine();
        };
    }
    ControlMediaResponseCallback ControlAnswer() {
        return [this](unsigned, unsigned, unsigned char) { CallEngine(); };
    }

    void OpenSubject() {
        const bool backup = std::get<0>(GetParam()) == Answer::kFinalHeader;
        const int64_t end = backup ? kS + 1 : kLast;
        std::string cam = "cam1";
        if (std::get<1>(GetParam()) == Via::kEngine) {
            ASSERT_EQ(engine_->OpenMedia(kSubject, kS, end, 1, kSubject, cam, false, backup,
                                         test::kMainProfileType, "", Data(), OpenAnswer()),
                      MEDIA_ERROR_NONE);
            return;
        }
        subject_ = engine_->CreatePlaybackMedia(kSubject, 1, cam, "");
        ASSERT_NE(subject_, nullptr);
        subject_->OpenMedia(static_cast<int>(kSubject), kS, end, 1, false, backup,
                            test::kMainProfileType, Data(), OpenAnswer());
    }

    void ControlSubject(unsigned type) {
        if (std::get<1>(GetParam()) == Via::kEngine) {
            engine_->ControlMedia(40, type, kSubject, 1, 0, 0, test::kMainProfileType, "",
                                  ControlAnswer());
        } else {
            subject_->ControlMedia(40, type, 0, 1, test::kMainProfileType, ControlAnswer());
        }
    }

    test::Sink other_;
    PlaybackMedia* subject_ = nullptr;
    std::atomic<bool> fired_{false};
    std::atomic<bool> called_{false};
};

TEST_P(PlaybackReentryTest, TheCallbackCallsTheEngine) {
    Watchdog watchdog(CaseName(GetParam()));
    ASSERT_EQ(Open(kWitness, "cam2", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(kWitness, kS); }));

    OpenSubject();
    const Answer answer = std::get<0>(GetParam());
    if (answer == Answer::kControl || answer == Answer::kStop) {
        ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(kSubject, kS); }));
        ControlSubject(answer == Answer::kStop ? PLAYBACK_CONTROL_STOP : PLAYBACK_CONTROL_PAUSE);
    }
    ASSERT_TRUE(sink_.WaitFor([&] { return called_.load(); }));

    // The timer still ticks the other medium.
    const size_t heard = sink_.Videos(kWitness).size();
    EXPECT_TRUE(sink_.WaitFor([&] { return sink_.Videos(kWitness).size() > heard; }));
    for (const uint32_t id : {kSubject, kCreated, kOpened, kWitness}) {
        engine_->DeletePlaybackMedia(id);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryAnswerAndCall, PlaybackReentryTest,
    ::testing::Combine(::testing::Values(Answer::kOpen, Answer::kControl, Answer::kStop,
                                         Answer::kData, Answer::kFinalHeader),
                       ::testing::Values(Via::kEngine, Via::kPointer),
                       ::testing::Values(Call::kCreate, Call::kOpen, Call::kControl, Call::kGet,
                                         Call::kDelete, Call::kSession)),
    [](const ::testing::TestParamInfo<Case>& info) { return CaseName(info.param); });

}  // namespace
}  // namespace orvale::recorder
