// A read-only file reached by absolute positions. Every read either fills
// the whole buffer it is given or reports failure; a failed read or seek
// leaves the stream usable for the next positioned read. The size is taken
// when the file is opened and bounds what callers ask for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace orvale::converter {

class FileStream {
  public:
    // Opens an existing file; IsOpen tells whether that worked.
    explicit FileStream(const std::filesystem::path& path);

    bool IsOpen() const { return open_; }
    void Close();
    uint64_t Size() const { return size_; }

    bool Seek(uint64_t offset);
    uint64_t Position() const { return position_; }
    // Reads buffer.size() bytes at the current position; false on a short read.
    bool Read(std::span<uint8_t> buffer);
    bool ReadAt(uint64_t offset, std::span<uint8_t> buffer) { return Seek(offset) && Read(buffer); }

  private:
    std::ifstream stream_;
    bool open_ = false;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
};

}  // namespace orvale::converter
