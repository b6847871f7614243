#include "converter/FileStream.h"

#include <system_error>

namespace orvale::converter {

FileStream::FileStream(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return;
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) return;
    stream_.open(path, std::ios::binary | std::ios::in);
    open_ = stream_.is_open();
    size_ = open_ ? size : 0;
}

void FileStream::Close() {
    if (open_) stream_.close();
    open_ = false;
    size_ = 0;
    position_ = 0;
}

bool FileStream::Seek(uint64_t offset) {
    if (!open_ || offset > size_) return false;
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    if (!stream_) return false;
    position_ = offset;
    return true;
}

bool FileStream::Read(std::span<uint8_t> buffer) {
    if (!open_) return false;
    // A read that the size already rules out is refused before it starts.
    if (buffer.size() > size_ - position_) return false;
    stream_.read(reinterpret_cast<char*>(buffer.data()),
                 static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<uint64_t>(stream_.gcount());
    position_ += got;
    if (got != buffer.size()) {
        stream_.clear();
        return false;
    }
    return true;
}

}  // namespace orvale::converter
