// The engine run as a fully loaded recorder runs it, in one process on one
// engine with two drives (D and E, folders inside the bench folder mapped
// through the [drives] section of the run's own host folder):
//   1. 8 older channels record 2 minutes each as fast as the engine takes
//      them (a channel waits while its write buffer count is above 1);
//   2. then, for S seconds at once:
//      - N live channels pushed at camera pace, each from its own thread:
//        25 fps of 20 kB video (a key frame first in each second), 8 kB of
//        audio every 40 ms on half of them, one metadata document a second
//        on a quarter, frame times from the wall clock, the channels 40/N ms
//        apart;
//      - 8 media at speed 1 on the older channels, re-opened at a random
//        place every 20 s; 4 of them play as one session, which moves
//        between two session names every 60 s;
//      - a 60 s export of an older channel every 30 s;
//      - timeline and calendar searches over all channels every 5 s, a
//        track search every 15 s;
//   3. everything stops, and a fresh engine exports every live channel
//      whole: every pushed second must be stored once and read back byte
//      for byte, and every metadata document must have its row.
//
//   soak [folder] [--seconds S] [--channels N]     (S 360, N 32)
//
// Figures, one a line, last: push_p999_ms= and push_max_ms= (one push call,
// video, audio or metadata), gap_p999_ms= and gap_max_ms= (between two
// video frames of a medium; the first frame after an open, a seek or a move
// is not counted), floor_gap_p999_ms= and floor_gap_max_ms= (the same for as
// many media kept in time by a thread beside the engine that does only that,
// on a 1 ms tick as the engine's timer: what the machine allows in this
// run), search_max_ms=
// (question to answer), rss_mb= (the most
// resident during step 2), cpu_cores= (process time over step 2 / its wall
// time), lost_seconds= (pushed seconds missing a frame or their metadata
// row), doubled_seconds= (seconds stored with more than was pushed),
// bad_frames= (frames that read back with other bytes). Everything written
// is removed at the end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include "bench/BenchFigures.h"
#include "bench/Latencies.h"
#include "bench/PaceFloor.h"
#include "platform/HostFolder.h"
#include "platform/ProcessMemory.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/MetaDataFile.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;
using namespace std::chrono_literals;
using bench::Clock;
using bench::Percentile;
using bench::Since;
using bench::Worst;

constexpr uint32_t kFps = 25;
constexpr uint32_t kFrameMs = 1000 / kFps;
constexpr uint32_t kVideoBytes = 20'000;
constexpr uint32_t kAudioBytes = 8'000;
constexpr int kOldChannels = 8;
constexpr int64_t kOldSeconds = 120;
constexpr int kMedia = 8;
constexpr int kSessionMedia = 4;
constexpr unsigned kFirstExportId = 100;
constexpr int kPlaySeconds = 20;

struct Options {
    fs::path folder = ".";
    int64_t seconds = 360;
    int channels = 32;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::strtoll(argv[++i], nullptr, 10) : 0; };
        if (arg == "--seconds") {
            options.seconds = std::max<long long>(10, value());
        } else if (arg == "--channels") {
            options.channels = static_cast<int>(std::clamp<long long>(value(), 1, 256));
        } else {
            options.folder = arg;
        }
    }
    return options;
}

std::string OldId(int i) {
    return "old" + std::to_string(i + 1);
}
std::string LiveId(int c) {
    return "live" + std::to_string(c + 1);
}
bool HasAudio(int c) {
    return c % 2 == 0;
}
bool HasMetadata(int c) {
    return c % 4 == 0;
}

// The bytes of every frame: a window of one random pattern chosen by the
// frame's place, its first bytes naming that place, so that a frame read
// back at another place or with other bytes is told apart.
class Payloads {
  public:
    Payloads() : pattern_(1 << 17) {
        std::mt19937 random(12345);
        for (auto& byte : pattern_) byte = static_cast<uint8_t>(random());
    }
    // kind: 1 video, 2 audio.
    void Fill(std::vector<uint8_t>& out, uint32_t size, int channel, int64_t second, uint32_t frame,
              int kind) const {
        out.resize(size);
        const uint64_t place =
            (static_cast<uint64_t>(channel) * 7919 + static_cast<uint64_t>(second) * 31 +
             uint64_t{frame} * 131 + static_cast<uint64_t>(kind) * 17) %
            (pattern_.size() - size);
        std::memcpy(out.data(), pattern_.data() + place, size);
        const int64_t head[4] = {channel, second, frame, kind};
        std::memcpy(out.data(), head, sizeof head);
    }

  private:
    std::vector<uint8_t> pattern_;
};

std::string MetadataDocument(int channel, int64_t second) {
    return "<tt:MetadataStream xmlns:tt=\"http://www.onvif.org/ver10/schema\"><tt:VideoAnalytics>"
           "<tt:Frame Source=\"" +
           LiveId(channel) + "\" Second=\"" + std::to_string(second) +
           "\"></tt:Frame></tt:VideoAnalytics></tt:MetadataStream>";
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

recorder::IRecorder* MakeRecorder(recorder::MediaRecorder& engine, std::string id) {
    std::string scheduleId = "soak";
    recorder::IRecorder* recorder = engine.CreateRecorder(id, scheduleId, 0, false);
    if (recorder == nullptr) {
        std::cerr << "cannot create the recorder of " << id << "\n";
        std::exit(1);
    }
    recorder->SetUseFrameTime(true);
    return recorder;
}

void SetFullSchedule(recorder::MediaRecorder& engine) {
    std::string scheduleId = "soak";
    auto schedule = std::make_unique<recorder::media_schedule_s>();
    std::fill(std::begin(schedule->table), std::end(schedule->table), uint8_t{1});
    engine.SetSchedule(scheduleId, *schedule, {});
}

recorder::video_frame_header_s VideoHeader(int64_t second, uint32_t frame, uint32_t stampMs) {
    recorder::video_frame_header_s header;
    header.profile = 1;
    header.codec = 0x1B;
    header.width = 1920;
    header.height = 1080;
    header.frameType = frame == 0 ? 1 : 2;
    header.time = static_cast<uint64_t>(second);
    header.timeMs = stampMs;
    return header;
}

// Step 1: the older channels, as fast as the engine takes them.
void RecordOldChannels(recorder::MediaRecorder& engine, const Payloads& payloads,
                       int64_t firstSecond) {
    std::vector<recorder::IRecorder*> recorders;
    recorders.reserve(kOldChannels);
    for (int i = 0; i < kOldChannels; ++i) recorders.push_back(MakeRecorder(engine, OldId(i)));
    SetFullSchedule(engine);
    std::vector<std::thread> threads;
    threads.reserve(kOldChannels);
    for (int i = 0; i < kOldChannels; ++i) {
        threads.emplace_back([&, i] {
            recorder::IRecorder& recorder = *recorders[static_cast<size_t>(i)];
            recorder.StartRecording();
            std::vector<uint8_t> bytes;
            for (int64_t s = 0; s < kOldSeconds; ++s) {
                for (uint32_t f = 0; f < kFps; ++f) {
                    while (recorder.WaitWriteBufferCount(1, 100) > 1) {
                    }
                    const int64_t second = firstSecond + s;
                    payloads.Fill(bytes, kVideoBytes, 1000 + i, second, f, 1);
                    const auto stamp = static_cast<uint32_t>(second * 1000 + int64_t{f} * kFrameMs);
                    recorder.PushVideoFrame(VideoHeader(second, f, stamp), bytes.data(),
                                            kVideoBytes, 0);
                }
            }
            recorder.StopRecording();
        });
    }
    for (auto& thread : threads) thread.join();
}

// What the live channels saw.
struct PushFigures {
    std::vector<float> ms;  // every push call
    uint64_t refused = 0;
};

struct LiveRun {
    int channels = 0;
    int64_t seconds = 0;
    int64_t firstSecond = 0;  // wall-clock second of the first frame
    Clock::time_point start;  // steady time of the first frame
    std::vector<recorder::IRecorder*> recorders;
    std::vector<PushFigures> pushes;
    Worst worst;
};

void PushLive(LiveRun& run, const Payloads& payloads, int c) {
    recorder::IRecorder& recorder = *run.recorders[static_cast<size_t>(c)];
    PushFigures& figures = run.pushes[static_cast<size_t>(c)];
    figures.ms.reserve(static_cast<size_t>(run.seconds) * kFps * 2 + 64);
    const auto offset = std::chrono::microseconds(kFrameMs * 1000 * c / run.channels);
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio;
    const auto timed = [&](const char* what, auto&& push) {
        const auto before = Clock::now();
        const bool taken = push();
        const auto ms = static_cast<float>(Ms(Clock::now() - before));
        figures.ms.push_back(ms);
        if (!taken) ++figures.refused;
        if (ms > 20) {
            run.worst.Add(ms, std::chrono::duration<double>(before - run.start).count(),
                          LiveId(c) + " " + what);
        }
    };
    const uint64_t frames = static_cast<uint64_t>(run.seconds) * kFps;
    for (uint64_t k = 0; k < frames; ++k) {
        const int64_t second = run.firstSecond + static_cast<int64_t>(k / kFps);
        const auto f = static_cast<uint32_t>(k % kFps);
        const auto stamp = static_cast<uint32_t>(second * 1000 + int64_t{f} * kFrameMs);
        payloads.Fill(video, kVideoBytes, c, second, f, 1);
        if (HasAudio(c)) payloads.Fill(audio, kAudioBytes, c, second, f, 2);
        std::this_thread::sleep_until(run.start + offset + std::chrono::milliseconds(kFrameMs * k));
        timed("video", [&] {
            return recorder.PushVideoFrame(VideoHeader(second, f, stamp), video.data(), kVideoBytes,
                                           0);
        });
        if (HasAudio(c)) {
            recorder::audio_frame_header_s header;
            header.codec = 0x10011;
            header.timeMs = stamp;
            header.format0 = 1;
            header.format1 = 8000;
            header.format2 = 16;
            timed("audio",
                  [&] { return recorder.PushAudioFrame(header, audio.data(), kAudioBytes); });
        }
        if (HasMetadata(c) && f == 0) {
            const std::string document = MetadataDocument(c, second);
            recorder::meta_frame_header_s header;
            header.time = second;
            header.timeMs = stamp;
            timed("meta", [&] {
                return recorder.PushMetaFrame(header, document.data(),
                                              static_cast<uint32_t>(document.size()));
            });
        }
    }
}

// One playing medium as its data callback sees it (on the timer thread).
struct Medium {
    unsigned id = 0;
    int oldChannel = 0;
    std::mutex mutex;
    int64_t lastNs = 0;  // 0: the next frame is the first after an open or move
    uint64_t frames = 0;
    std::vector<float> gaps;
};

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

class Playback {
  public:
    Playback(recorder::MediaRecorder& engine, int64_t oldFirst, Clock::time_point start)
        : engine_(engine), oldFirst_(oldFirst), start_(start), media_(kMedia) {
        for (int i = 0; i < kMedia; ++i) {
            media_[static_cast<size_t>(i)].id = static_cast<unsigned>(i + 1);
            media_[static_cast<size_t>(i)].oldChannel = i;
        }
    }

    // The control thread's loop: opens, moves, re-opens until `stop`.
    void Run(const std::atomic<bool>& stop) {
        for (int i = 0; i < kMedia; ++i) Open(i);
        int64_t tenth = 0;
        while (!stop) {
            std::this_thread::sleep_until(start_ + std::chrono::milliseconds(100 * ++tenth));
            if (tenth % 200 == 0) {
                // The session's media together: alone, each would join the
                // others at their time instead of a new place.
                for (int i = 0; i < kSessionMedia; ++i) Close(i);
                const int64_t at = RandomStart();
                for (int i = 0; i < kSessionMedia; ++i) Open(i, at);
            }
            for (int i = kSessionMedia; i < kMedia; ++i) {
                if (tenth % 200 == int64_t{40} * (i - kSessionMedia + 1)) {
                    Close(i);
                    Open(i);
                }
            }
            if (tenth % 600 == 300) Move();
        }
        for (int i = 0; i < kMedia; ++i) Close(i);
    }

    std::vector<float> Gaps(uint64_t& frames) {
        std::vector<float> all;
        frames = 0;
        for (Medium& m : media_) {
            std::lock_guard lock(m.mutex);
            all.insert(all.end(), m.gaps.begin(), m.gaps.end());
            frames += m.frames;
        }
        return all;
    }
    uint64_t Opens() const { return opens_; }
    uint64_t OpenFailures() const { return openFailures_.load(); }
    uint64_t Moves() const { return moves_; }
    Worst& WorstGaps() { return worst_; }

  private:
    int64_t RandomStart() {
        std::uniform_int_distribution<int64_t> place(0, kOldSeconds - kPlaySeconds - 5);
        return oldFirst_ + place(random_);
    }
    std::string SessionOf(int i) const { return i < kSessionMedia ? session_ : std::string(); }

    void Fresh(Medium& m) {
        std::lock_guard lock(m.mutex);
        m.lastNs = 0;
    }

    void Open(int i, int64_t at = 0) {
        Medium& m = media_[static_cast<size_t>(i)];
        Fresh(m);
        std::string channel = OldId(m.oldChannel);
        Medium* seen = &m;
        const auto data = [this, seen](recorder::playback_media_header_s* header, long size,
                                       unsigned char*) {
            if (header->kind != 1 || size <= 0 || header->backup != 0) return 0L;
            const int64_t now = NowNs();
            std::lock_guard lock(seen->mutex);
            ++seen->frames;
            if (seen->lastNs != 0) {
                const auto gap = static_cast<float>(static_cast<double>(now - seen->lastNs) / 1e6);
                seen->gaps.push_back(gap);
                if (gap > 60) {
                    const double at = std::chrono::duration<double>(Clock::now() - start_).count();
                    worst_.Add(gap, at, "m" + std::to_string(seen->id));
                }
            }
            seen->lastNs = now;
            return 0L;
        };
        const auto answer = [this](unsigned, unsigned result) {
            if (result != 0) ++openFailures_;
        };
        const int64_t from = at != 0 ? at : RandomStart();
        engine_.OpenMedia(m.id, from, oldFirst_ + kOldSeconds - 1, -1, m.id, channel, false, false,
                          4, SessionOf(i), data, answer);
        ++opens_;
    }

    void Close(int i) { engine_.DeletePlaybackMedia(media_[static_cast<size_t>(i)].id); }

    void Move() {
        session_ = session_ == "sessionA" ? "sessionB" : "sessionA";
        for (int i = 0; i < kSessionMedia; ++i) {
            Medium& m = media_[static_cast<size_t>(i)];
            engine_.ControlMedia(m.id, recorder::PLAYBACK_CONTROL_SESSION, m.id, 1, 0, 0, 4,
                                 session_, {});
            Fresh(m);
        }
        ++moves_;
    }

    recorder::MediaRecorder& engine_;
    const int64_t oldFirst_;
    const Clock::time_point start_;
    std::vector<Medium> media_;
    std::string session_ = "sessionA";
    std::mt19937 random_{777};
    uint64_t opens_ = 0;
    std::atomic<uint64_t> openFailures_{0};
    uint64_t moves_ = 0;
    Worst worst_;
};

// Waits for one answer of a search for up to a minute; -1 when none came.
template <class Ask>
double TimedAnswer(Ask&& ask) {
    auto answered = std::make_shared<std::promise<void>>();
    std::future<void> done = answered->get_future();
    const auto start = Clock::now();
    if (!ask([answered] { answered->set_value(); })) return -1;
    if (done.wait_for(60s) != std::future_status::ready) return -1;
    return Ms(Clock::now() - start);
}

struct SearchFigures {
    std::vector<double> ms;
    uint64_t unanswered = 0;
};

void RunSearches(recorder::MediaRecorder& engine, std::vector<std::string> ids, int64_t from,
                 Clock::time_point start, const std::atomic<bool>& stop, SearchFigures& figures) {
    unsigned seq = 1;
    const auto note = [&](double ms) {
        if (ms < 0) {
            ++figures.unanswered;
        } else {
            figures.ms.push_back(ms);
        }
    };
    for (int64_t round = 1; !stop; ++round) {
        std::this_thread::sleep_until(start + std::chrono::seconds(5 * round));
        if (stop) break;
        const int64_t now = std::time(nullptr);
        const unsigned timelineSeq = seq++;
        recorder::ITimelineSearcher* timeline = engine.CreateTimelineSearcher(timelineSeq, ids);
        note(TimedAnswer([&](auto done) {
            recorder::timeline_filter_s filter{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
            return timeline != nullptr &&
                   timeline->Search(
                       from, now, filter,
                       [done](unsigned, std::vector<std::vector<recorder::timeline_record_s>>&) {
                           done();
                       });
        }));
        engine.DeleteTimelineSearcher(timelineSeq);
        const unsigned calendarSeq = seq++;
        recorder::ICalendarSearcher* calendar = engine.CreateCalendarSearcher(calendarSeq, ids);
        std::tm utc{};
        const std::time_t t = now;
        gmtime_r(&t, &utc);
        note(TimedAnswer([&](auto done) {
            return calendar != nullptr &&
                   calendar->Search(
                       utc.tm_year + 1900, utc.tm_mon + 1,
                       [done](unsigned, int, int, const std::list<unsigned char>&) { done(); });
        }));
        engine.DeleteCalendarSearcher(calendarSeq);
        if (round % 3 == 0) {
            const unsigned trackSeq = seq++;
            recorder::ITrackSearcher* track = engine.CreateTrackSearcher(trackSeq);
            note(TimedAnswer([&](auto done) {
                return track != nullptr && track->Search(from, now,
                                                         [done](unsigned, int64_t, int64_t,
                                                                const std::list<int>&) { done(); });
            }));
            engine.DeleteTrackSearcher(trackSeq);
        }
    }
}

// The frames of one export, kept as they came (on a worker thread).
struct ExportSink {
    std::mutex mutex;
    std::condition_variable ended;
    int marker = -1;
    uint64_t frames = 0;
    std::function<void(const recorder::playback_media_header_s&, long, const uint8_t*)> each;

    recorder::OpenMediaCallback Data() {
        return [this](recorder::playback_media_header_s* header, long size, unsigned char* data) {
            std::lock_guard lock(mutex);
            if (header->backup != 0 && size == 0) {
                marker = header->video.endMarker;
                ended.notify_all();
                return 0L;
            }
            ++frames;
            if (each) each(*header, size, data);
            return 0L;
        };
    }
    bool Wait(std::chrono::seconds limit) {
        std::unique_lock lock(mutex);
        return ended.wait_for(lock, limit, [this] { return marker >= 0; });
    }
};

// Exports `channel` from `from` to `to`; the end marker (-1: none came).
int Export(recorder::MediaRecorder& engine, unsigned id, const std::string& channelId, int64_t from,
           int64_t to, ExportSink& sink, std::chrono::seconds limit) {
    std::string channel = channelId;
    std::atomic<unsigned> answer{0};
    const auto result =
        engine.OpenMedia(id, from, to, -1, id, channel, false, true, 4, "", sink.Data(),
                         [&answer](unsigned, unsigned r) { answer = r; });
    int marker = -1;
    if (result == recorder::MEDIA_ERROR_NONE && sink.Wait(limit)) {
        std::lock_guard lock(sink.mutex);
        marker = sink.marker;
    }
    engine.DeletePlaybackMedia(id);
    return marker;
}

void RunExports(recorder::MediaRecorder& engine, int64_t oldFirst, Clock::time_point start,
                const std::atomic<bool>& stop, uint64_t& done, uint64_t& complete) {
    std::mt19937 random(99);
    for (int64_t round = 0; !stop; ++round) {
        std::this_thread::sleep_until(start + std::chrono::seconds(15 + 30 * round));
        if (stop) break;
        const int64_t from = oldFirst + std::uniform_int_distribution<int64_t>(0, 59)(random);
        ExportSink sink;
        const int marker =
            Export(engine, kFirstExportId + static_cast<unsigned>(round % 2),
                   OldId(static_cast<int>(round % kOldChannels)), from, from + 59, sink, 60s);
        ++done;
        if (marker == 3 && sink.frames == uint64_t{60} * kFps) ++complete;
    }
}

// --- verification through a fresh engine ---

struct Verdict {
    uint64_t lost = 0;
    uint64_t doubled = 0;
    uint64_t bad = 0;
    uint64_t exportsIncomplete = 0;
    uint64_t metadataMissing = 0;
};

void VerifyFrames(recorder::MediaRecorder& engine, const Payloads& payloads, int c, int64_t first,
                  int64_t seconds, Verdict& verdict) {
    std::vector<uint32_t> video(static_cast<size_t>(seconds));
    std::vector<uint32_t> audio(static_cast<size_t>(seconds));
    std::vector<uint8_t> expected;
    uint64_t bad = 0;
    int64_t audioSecond = -1;
    ExportSink sink;
    sink.each = [&](const recorder::playback_media_header_s& header, long size,
                    const uint8_t* data) {
        if (header.kind == 1) {
            const int64_t s = header.video.time - first;
            audioSecond = s;
            if (s < 0 || s >= seconds) {
                ++bad;
                return;
            }
            const uint32_t f = video[static_cast<size_t>(s)]++;
            payloads.Fill(expected, kVideoBytes, c, header.video.time, f % kFps, 1);
            if (size != kVideoBytes || std::memcmp(expected.data(), data, kVideoBytes) != 0) ++bad;
        } else if (header.kind == 2) {
            if (audioSecond < 0 || audioSecond >= seconds) {
                ++bad;
                return;
            }
            const uint32_t f = audio[static_cast<size_t>(audioSecond)]++;
            payloads.Fill(expected, kAudioBytes, c, first + audioSecond, f % kFps, 2);
            if (size != kAudioBytes || std::memcmp(expected.data(), data, kAudioBytes) != 0) ++bad;
        }
    };
    const int marker = Export(engine, 1, LiveId(c), first, first + seconds - 1, sink, 600s);
    if (marker != 3) ++verdict.exportsIncomplete;
    for (int64_t s = 0; s < seconds; ++s) {
        const uint32_t v = video[static_cast<size_t>(s)];
        const uint32_t a = audio[static_cast<size_t>(s)];
        const uint32_t wantAudio = HasAudio(c) ? kFps : 0;
        if (v < kFps || a < wantAudio) {
            ++verdict.lost;
        } else if (v > kFps || a > wantAudio) {
            ++verdict.doubled;
        }
    }
    verdict.bad += bad;
}

// Metadata rows per channel and second, read from the hour databases.
void VerifyMetadata(const std::vector<fs::path>& drives, int channels, int64_t first,
                    int64_t seconds, Verdict& verdict) {
    std::map<std::string, int> byId;
    for (int c = 0; c < channels; ++c) {
        if (HasMetadata(c)) byId[LiveId(c)] = c;
    }
    std::map<int, std::vector<uint32_t>> rows;
    for (const auto& [id, c] : byId) rows[c].assign(static_cast<size_t>(seconds), 0);
    const auto folders = recorder::FolderInUseContainer::Create();
    for (const fs::path& drive : drives) {
        for (const auto& entry : fs::recursive_directory_iterator(drive)) {
            if (entry.path().extension() != ".kvtmtd") continue;
            int channel = -1;
            for (const auto& part : entry.path()) {
                if (const auto found = byId.find(part.string()); found != byId.end()) {
                    channel = found->second;
                }
            }
            if (channel < 0) continue;
            auto file = recorder::MetaDataFile::Create(entry.path(), folders);
            recorder::MetaDataFrames frames;
            if (!file->OpenForReading() || !file->ReadXml(first, first + seconds - 1, frames)) {
                continue;
            }
            for (const auto& frame : frames) {
                const std::string text(frame->content.begin(), frame->content.end());
                const int64_t s = frame->utc - first;
                if (s < 0 || s >= seconds || text != MetadataDocument(channel, frame->utc)) {
                    ++verdict.bad;
                    continue;
                }
                ++rows[channel][static_cast<size_t>(s)];
            }
        }
    }
    for (const auto& [c, counts] : rows) {
        for (const uint32_t count : counts) {
            if (count == 0) ++verdict.metadataMissing;
            if (count > 1) ++verdict.doubled;
        }
    }
    verdict.lost += verdict.metadataMissing;
}

void PrepareFolders(const fs::path& host, const std::vector<fs::path>& drives) {
    fs::create_directories(host);
    std::ofstream ini(host / "ostrel.ini");
    ini << "[drives]\n";
    const char* letters[] = {"D", "E"};
    for (size_t i = 0; i < drives.size(); ++i) {
        fs::create_directories(drives[i]);
        ini << letters[i] << " = " << drives[i].string() << "\n";
    }
    platform::SetHostFolder(host.string());
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (!bench::DriveMapIsUnset()) return 1;
    // The engine's log lines are not what is measured.
    boost::log::core::get()->set_logging_enabled(false);
    const fs::path root = fs::absolute(options.folder) / "soak_bench";
    const std::vector<fs::path> drives = {root / "D", root / "E"};
    fs::remove_all(root);
    PrepareFolders(root / "host", drives);
    const Payloads payloads;
    const int64_t oldFirst = (std::time(nullptr) - int64_t{3} * 3600) / 60 * 60;
    std::printf("folder=%s seconds=%lld channels=%d\n", root.string().c_str(),
                static_cast<long long>(options.seconds), options.channels);
    std::fflush(stdout);

    LiveRun run;
    run.channels = options.channels;
    run.seconds = options.seconds;
    run.pushes.resize(static_cast<size_t>(options.channels));
    std::vector<float> gaps;
    std::vector<float> floorGaps;
    Worst floorWorst;
    uint64_t playedFrames = 0;
    SearchFigures searches;
    uint64_t exports = 0;
    uint64_t exportsComplete = 0;
    double residentMax = 0;
    double cores = 0;
    {
        recorder::MediaRecorder engine;
        engine.Initialize();
        const auto recording = Clock::now();
        RecordOldChannels(engine, payloads, oldFirst);
        std::printf("old_channels=%d old_seconds=%lld record_s=%.1f\n", kOldChannels,
                    static_cast<long long>(kOldSeconds), Since(recording));
        std::fflush(stdout);

        for (int c = 0; c < options.channels; ++c) {
            run.recorders.push_back(MakeRecorder(engine, LiveId(c)));
        }
        SetFullSchedule(engine);
        for (recorder::IRecorder* recorder : run.recorders) recorder->StartRecording();
        // The first frame at the start of a wall-clock second, a second on.
        const auto wallNow = std::chrono::system_clock::now();
        const auto nextSecond = std::chrono::ceil<std::chrono::seconds>(wallNow) + 1s;
        run.firstSecond =
            std::chrono::duration_cast<std::chrono::seconds>(nextSecond.time_since_epoch()).count();
        run.start = Clock::now() + (nextSecond - wallNow);

        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        threads.reserve(static_cast<size_t>(options.channels));
        for (int c = 0; c < options.channels; ++c) {
            threads.emplace_back([&, c] { PushLive(run, payloads, c); });
        }
        Playback playback(engine, oldFirst, run.start);
        std::thread control([&] {
            std::this_thread::sleep_until(run.start);
            playback.Run(stop);
        });
        std::vector<std::string> ids;
        ids.reserve(kOldChannels + static_cast<size_t>(options.channels));
        for (int i = 0; i < kOldChannels; ++i) ids.push_back(OldId(i));
        for (int c = 0; c < options.channels; ++c) ids.push_back(LiveId(c));
        std::thread searcher(
            [&] { RunSearches(engine, ids, oldFirst, run.start, stop, searches); });
        std::thread exporter(
            [&] { RunExports(engine, oldFirst, run.start, stop, exports, exportsComplete); });

        bench::PaceFloor machine(run.start, kMedia);
        std::this_thread::sleep_until(run.start);
        const std::clock_t cpuStart = std::clock();
        const auto liveStart = Clock::now();
        const auto end = run.start + std::chrono::seconds(options.seconds);
        while (Clock::now() < end) {
            std::this_thread::sleep_for(1s);
            residentMax = std::max(residentMax, static_cast<double>(platform::ResidentBytes()));
        }
        for (auto& thread : threads) thread.join();
        cores = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC / Since(liveStart);
        stop = true;
        machine.Stop();
        floorGaps = machine.Gaps();
        for (const auto& [gap, at] : machine.LongGaps(60)) floorWorst.Add(gap, at, "floor");
        control.join();
        searcher.join();
        exporter.join();
        const auto stopping = Clock::now();
        for (recorder::IRecorder* recorder : run.recorders) recorder->StopRecording();
        gaps = playback.Gaps(playedFrames);
        std::printf(
            "stop_s=%.1f opens=%llu open_failures=%llu moves=%llu played_frames=%llu "
            "exports=%llu exports_complete=%llu searches=%zu searches_unanswered=%llu\n",
            Since(stopping), static_cast<unsigned long long>(playback.Opens()),
            static_cast<unsigned long long>(playback.OpenFailures()),
            static_cast<unsigned long long>(playback.Moves()),
            static_cast<unsigned long long>(playedFrames), static_cast<unsigned long long>(exports),
            static_cast<unsigned long long>(exportsComplete), searches.ms.size(),
            static_cast<unsigned long long>(searches.unanswered));
        playback.WorstGaps().Print("worst_gaps_ms");
        floorWorst.Print("worst_floor_gaps_ms");
        run.worst.Print("worst_pushes_ms");
        engine.Finalize(false);
    }

    std::vector<float> pushes;
    uint64_t refused = 0;
    for (auto& figures : run.pushes) {
        pushes.insert(pushes.end(), figures.ms.begin(), figures.ms.end());
        refused += figures.refused;
    }
    Verdict verdict;
    {
        const auto verifying = Clock::now();
        recorder::MediaRecorder engine;
        engine.Initialize();
        for (int c = 0; c < options.channels; ++c) {
            VerifyFrames(engine, payloads, c, run.firstSecond, options.seconds, verdict);
        }
        engine.Finalize(false);
        VerifyMetadata(drives, options.channels, run.firstSecond, options.seconds, verdict);
        std::printf(
            "pushes=%zu refused=%llu exports_incomplete=%llu metadata_missing=%llu "
            "verify_s=%.1f\n",
            pushes.size(), static_cast<unsigned long long>(refused),
            static_cast<unsigned long long>(verdict.exportsIncomplete),
            static_cast<unsigned long long>(verdict.metadataMissing), Since(verifying));
    }
    platform::SetHostFolder("");
    std::error_code error;
    fs::remove_all(root, error);

    const double pushMax = pushes.empty() ? 0 : *std::max_element(pushes.begin(), pushes.end());
    const double gapMax = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    const double searchMax =
        searches.ms.empty() ? 0 : *std::max_element(searches.ms.begin(), searches.ms.end());
    std::printf("push_p999_ms=%.2f\n", Percentile(pushes, 0.999));
    std::printf("push_max_ms=%.2f\n", pushMax);
    std::printf("gap_p999_ms=%.2f\n", Percentile(gaps, 0.999));
    std::printf("gap_max_ms=%.2f\n", gapMax);
    std::printf("floor_gap_p999_ms=%.2f\n", Percentile(floorGaps, 0.999));
    std::printf("floor_gap_max_ms=%.2f\n",
                floorGaps.empty() ? 0 : *std::max_element(floorGaps.begin(), floorGaps.end()));
    std::printf("search_max_ms=%.1f\n", searchMax);
    std::printf("rss_mb=%.0f\n", residentMax / 1e6);
    std::printf("cpu_cores=%.2f\n", cores);
    std::printf("lost_seconds=%llu\n", static_cast<unsigned long long>(verdict.lost));
    std::printf("doubled_seconds=%llu\n", static_cast<unsigned long long>(verdict.doubled));
    std::printf("bad_frames=%llu\n", static_cast<unsigned long long>(verdict.bad));
    return 0;
}
