// The playback timer's tick as the one thread that drives every medium: a
// medium that another thread holds is passed over, never waited for, so the
// other media play on meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::kPlayStart;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 29;

class PlaybackTickTest : public test::PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record("cam1", {{kS, kLast}});
    }
};

// A host hearing the STOP answer of medium 2 (it comes inside ControlMedia,
// with the medium held) for as long as two seconds does not stop medium 1.
TEST_F(PlaybackTickTest, AMediumHeldByAnotherThreadHoldsNoOtherUp) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS) && sink_.SawVideo(2, kS); }));
    PlaybackMedia* held = engine_->GetPlaybackMedia(2);
    ASSERT_NE(held, nullptr);

    std::promise<void> inside;
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::thread stopper([&] {
        held->ControlMedia(9, PLAYBACK_CONTROL_STOP, 0, 1, test::kMainProfileType,
                           [&](unsigned, unsigned, unsigned char) {
                               inside.set_value();
                               released.wait_for(std::chrono::seconds(10));
                           });
    });
    ASSERT_EQ(inside.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const size_t before = sink_.Videos(1).size();
    const bool played = sink_.WaitFor([&] { return sink_.Videos(1).size() >= before + 5; },
                                      std::chrono::seconds(2));
    release.set_value();
    stopper.join();
    EXPECT_TRUE(played) << "medium 1 waited for medium 2's holder";
}

}  // namespace
}  // namespace orvale::recorder
