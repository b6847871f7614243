// The playback timer's tick as the one thread that drives every medium: a
// medium that another thread holds is passed over, never waited for, so the
// other media play on meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "recorder/playback/PlaybackMediaImpl.h"
#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {

// Holds `mutex` (exclusively) on a thread of its own for as long as it
// lives, as a slow caller would: one opening or controlling a medium on a
// slow disk, a drive change or an overwrite of the oldest hours holding a
// channel.
template <class Mutex>
class LockHeld {
  public:
    explicit LockHeld(Mutex& mutex)
        : thread_([this, &mutex] {
              const std::lock_guard lock(mutex);
              inside_.set_value();
              released_.wait_for(std::chrono::seconds(10));
          }) {}
    ~LockHeld() {
        release_.set_value();
        thread_.join();
    }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

    // True once the thread holds the lock (waits up to 10 s for it).
    bool Held() { return entered_.wait_for(std::chrono::seconds(10)) == std::future_status::ready; }

  private:
    std::promise<void> inside_;
    std::future<void> entered_ = inside_.get_future();
    std::promise<void> release_;
    std::future<void> released_ = release_.get_future();
    std::thread thread_;
};

// The locks and the pool the tests look at, reached as their classes'
// friends.
class PlaybackMediaInternals {
  public:
    static std::recursive_mutex& MutexOf(PlaybackMediaImpl& medium) { return medium.mutex_; }
    static std::shared_ptr<Channel> ChannelOf(const PlaybackMediaImpl& medium) {
        return medium.channel_;
    }
    static std::shared_ptr<BufferPool> PoolOf(const PlaybackMediaImpl& medium) {
        return medium.bufferPool_;
    }
};

class ChannelLockHolder {
  public:
    static ContainerMutex& MutexOf(Channel& channel) { return channel.mutex_; }
};

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

// A medium held by another thread for as long as two seconds does not stop
// the others.
TEST_F(PlaybackTickTest, AMediumHeldByAnotherThreadHoldsNoOtherUp) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS) && sink_.SawVideo(2, kS); }));
    auto* held = dynamic_cast<PlaybackMediaImpl*>(engine_->GetPlaybackMedia(2));
    ASSERT_NE(held, nullptr);

    bool played = false;
    {
        LockHeld holder(PlaybackMediaInternals::MutexOf(*held));
        ASSERT_TRUE(holder.Held());
        const size_t before = sink_.Videos(1).size();
        played = sink_.WaitFor([&] { return sink_.Videos(1).size() >= before + 5; },
                               std::chrono::seconds(2));
    }
    EXPECT_TRUE(played) << "medium 1 waited for medium 2's holder";
}

// An open finds its hour and reads its index while its channel is held (as
// a drive change or an overwrite holds it): that happens off the timer
// thread, so the media already playing go on, and the open is answered once
// the channel is let go. The medium playing has its whole recording read and
// looks for a next hour every second meanwhile: the timer does not wait for
// the channel for that either.
TEST_F(PlaybackTickTest, AnOpenWaitingForItsChannelHoldsNoOtherUp) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS); }));
    auto* playing = dynamic_cast<PlaybackMediaImpl*>(engine_->GetPlaybackMedia(1));
    ASSERT_NE(playing, nullptr);
    const std::shared_ptr<Channel> channel = PlaybackMediaInternals::ChannelOf(*playing);

    bool played = false;
    {
        LockHeld holder(ChannelLockHolder::MutexOf(*channel));
        ASSERT_TRUE(holder.Held());
        ASSERT_EQ(Open(2, "cam1", kS + 10, kLast), MEDIA_ERROR_NONE);
        const size_t before = sink_.Videos(1).size();
        played = sink_.WaitFor([&] { return sink_.Videos(1).size() >= before + 40; },
                               std::chrono::seconds(4));
        EXPECT_LT(sink_.Opens().size(), 2u) << "answered before its index was read";
    }
    EXPECT_TRUE(played) << "medium 1 waited for medium 2's open";
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(2, kS + 10); }));
    ASSERT_EQ(sink_.Opens().size(), 2u);
    EXPECT_EQ(sink_.Opens()[1].seq, 2u);
    EXPECT_EQ(sink_.Opens()[1].result, static_cast<unsigned>(MEDIA_ERROR_NONE));
}

// Making a read buffer maps fresh memory, which can take tens of
// milliseconds while the recorders fault in theirs: the buffers an open and
// its read-ahead take are made on the open pool, never on the timer thread.
TEST_F(PlaybackTickTest, TheTimerTakesReadBuffersMadeAhead) {
    for (uint32_t id = 1; id <= 4; ++id) {
        ASSERT_EQ(Open(id, "cam1", kS + id, kLast), MEDIA_ERROR_NONE);
    }
    ASSERT_TRUE(sink_.WaitFor([&] {
        for (uint32_t id = 1; id <= 4; ++id) {
            if (!sink_.SawVideo(id, kS + id + 1)) return false;
        }
        return true;
    }));
    auto* medium = dynamic_cast<PlaybackMediaImpl*>(engine_->GetPlaybackMedia(1));
    ASSERT_NE(medium, nullptr);
    EXPECT_EQ(PlaybackMediaInternals::PoolOf(*medium)->MadeOnDemandCount(), 0u);
}

}  // namespace
}  // namespace orvale::recorder
