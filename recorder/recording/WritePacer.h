// When a profile's finished seconds are handed to the disk: once every ten
// seconds at the recorder's own offset within the period, after five new
// seconds while nothing has been written yet, and after sixteen new seconds
// at the latest. Not thread-safe: the owner serialises calls.
#pragma once

#include <cstdint>

namespace orvale::recorder {

class WritePacer {
  public:
    explicit WritePacer(uint32_t offset = 0) : offset_(offset) {}

    void SetOffset(uint32_t offset) { offset_ = offset; }
    void Reset() {
        nextWrite_ = 0;
        newSeconds_ = 0;
    }
    // Called once per new second of frames; true when a write is due.
    // `written`: the profile has reported a successful write.
    bool OnNewSecond(int64_t now, bool written) {
        const int64_t boundary = (now / 10 + 1) * 10 + offset_;
        ++newSeconds_;
        if (nextWrite_ == 0) {
            nextWrite_ = boundary;
            return false;
        }
        if (!written && newSeconds_ >= 5) return Due(boundary);
        if (now >= nextWrite_) {
            newSeconds_ = 0;
            nextWrite_ += 10;
            return true;
        }
        if (newSeconds_ <= 15) return false;
        return Due(boundary);
    }
    int64_t NextWrite() const { return nextWrite_; }

  private:
    bool Due(int64_t boundary) {
        newSeconds_ = 0;
        nextWrite_ = boundary;
        return true;
    }

    uint32_t offset_;
    int64_t nextWrite_ = 0;
    uint32_t newSeconds_ = 0;
};

}  // namespace orvale::recorder
