#include "platform/DirectFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include <boost/asio/defer.hpp>
#include <boost/asio/post.hpp>

namespace orvale::platform {
namespace {

std::atomic<bool> forceBuffered{false};

std::mutex writeHookMutex;
std::shared_ptr<const WriteHook> writeHook;

std::shared_ptr<const WriteHook> CurrentWriteHook() {
    std::lock_guard lock(writeHookMutex);
    return writeHook;
}

std::error_code LastErrorCode() {
    return {errno, std::system_category()};
}

std::error_code ErrorCode(int code) {
    return {code, std::system_category()};
}

// Allocates `size` bytes for an open file: fallocate, or, where the
// filesystem cannot, a plain length (never glibc's zero-writing emulation).
std::error_code Allocate(int fd, int64_t size) {
    if (size <= 0) return {};
    if (::fallocate(fd, 0, 0, size) == 0) return {};
    if (errno != EOPNOTSUPP && errno != ENOSYS) return LastErrorCode();
    struct stat status {};
    if (::fstat(fd, &status) != 0) return LastErrorCode();
    if (status.st_size >= size) return {};
    if (::ftruncate(fd, size) != 0) return LastErrorCode();
    return {};
}

std::error_code WriteFully(int fd, int64_t offset, const void* data, std::size_t length,
                           std::size_t& written) {
    written = 0;
    const auto* bytes = static_cast<const char*>(data);
    while (written < length) {
        const ssize_t n = ::pwrite(fd, bytes + written, length - written,
                                   static_cast<off_t>(offset + static_cast<int64_t>(written)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastErrorCode();
        }
        // A device that takes nothing more (a full disk) would loop for ever.
        if (n == 0) return ErrorCode(EIO);
        written += static_cast<std::size_t>(n);
    }
    return {};
}

std::error_code ReadFully(int fd, int64_t offset, void* data, std::size_t length,
                          std::size_t& read) {
    read = 0;
    auto* bytes = static_cast<char*>(data);
    while (read < length) {
        const ssize_t n = ::pread(fd, bytes + read, length - read,
                                  static_cast<off_t>(offset + static_cast<int64_t>(read)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastErrorCode();
        }
        if (n == 0) break;  // end of file
        read += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace

struct DirectFile::Handle {
    Handle(int descriptor, bool unbuffered) : fd(descriptor), direct(unbuffered) {}
    ~Handle() { ::close(fd); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const int fd;
    const bool direct;
};

DirectFile::DirectFile(boost::asio::io_context& io) : io_(io) {}

DirectFile::~DirectFile() = default;

std::error_code DirectFile::Open(const std::filesystem::path& path, Access access) {
    std::lock_guard lock(mutex_);
    if (handle_) return ErrorCode(EALREADY);
    const int flags = (access == Access::kRead ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    int fd = -1;
    bool direct = false;
    if (forceBuffered.load()) {
        errno = EINVAL;
    } else {
        fd = ::open(path.c_str(), flags | O_DIRECT);
        direct = fd >= 0;
    }
    // EINVAL is how a filesystem without unbuffered transfers answers.
    if (fd < 0 && errno == EINVAL) fd = ::open(path.c_str(), flags);
    if (fd < 0) return LastErrorCode();
    // One writer at a time, of any process: two that both took a file as
    // fresh would write their records over each other's.
    if (access == Access::kReadWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const std::error_code error = errno == EWOULDBLOCK ? ErrorCode(EBUSY) : LastErrorCode();
        ::close(fd);
        return error;
    }
    handle_ = std::make_shared<Handle>(fd, direct);
    return {};
}

bool DirectFile::IsOpen() const {
    return CurrentHandle() != nullptr;
}

bool DirectFile::IsDirect() const {
    const auto handle = CurrentHandle();
    return handle && handle->direct;
}

void DirectFile::Close() {
    std::shared_ptr<Handle> released;
    std::lock_guard lock(mutex_);
    released.swap(handle_);
}

std::shared_ptr<DirectFile::Handle> DirectFile::CurrentHandle() const {
    std::lock_guard lock(mutex_);
    return handle_;
}

std::error_code DirectFile::Reserve(int64_t size) {
    const auto handle = CurrentHandle();
    if (!handle) return ErrorCode(EBADF);
    return Allocate(handle->fd, size);
}

std::error_code DirectFile::Sync() {
    const auto handle = CurrentHandle();
    if (!handle) return ErrorCode(EBADF);
    if (::fdatasync(handle->fd) != 0) return LastErrorCode();
    return {};
}

std::error_code DirectFile::WriteAt(int64_t offset, const void* data, std::size_t length) {
    const auto handle = CurrentHandle();
    if (!handle) return ErrorCode(EBADF);
    std::size_t written = 0;
    return WriteFully(handle->fd, offset, data, length, written);
}

std::error_code DirectFile::ReadAt(int64_t offset, void* data, std::size_t length,
                                   std::size_t& read) {
    read = 0;
    const auto handle = CurrentHandle();
    if (!handle) return ErrorCode(EBADF);
    return ReadFully(handle->fd, offset, data, length, read);
}

void DirectFile::AsyncWriteAt(int64_t offset, const void* data, std::size_t length,
                              TransferHandler handler, bool continuation) {
    auto job = [handle = CurrentHandle(), offset, data, length, handler = std::move(handler)] {
        std::size_t written = 0;
        const auto transfer = [&] {
            return handle ? WriteFully(handle->fd, offset, data, length, written)
                          : ErrorCode(EBADF);
        };
        const auto hook = CurrentWriteHook();
        const std::error_code error = hook ? (*hook)(offset, length, transfer) : transfer();
        handler(error, written);
    };
    if (continuation) {
        boost::asio::defer(io_, std::move(job));
    } else {
        boost::asio::post(io_, std::move(job));
    }
}

void DirectFile::AsyncReadAt(int64_t offset, void* data, std::size_t length,
                             TransferHandler handler, bool continuation) {
    auto job = [handle = CurrentHandle(), offset, data, length, handler = std::move(handler)] {
        std::size_t read = 0;
        const auto error =
            handle ? ReadFully(handle->fd, offset, data, length, read) : ErrorCode(EBADF);
        handler(error, read);
    };
    if (continuation) {
        boost::asio::defer(io_, std::move(job));
    } else {
        boost::asio::post(io_, std::move(job));
    }
}

std::error_code CreatePreallocatedFile(const std::filesystem::path& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return LastErrorCode();
    const auto error = Allocate(fd, size);
    ::close(fd);
    return error;
}

std::error_code TruncateFile(const std::filesystem::path& path, int64_t size) {
    if (::truncate(path.c_str(), size) != 0) return LastErrorCode();
    return {};
}

void SetWriteHookForTesting(WriteHook hook) {
    std::lock_guard lock(writeHookMutex);
    writeHook = hook ? std::make_shared<const WriteHook>(std::move(hook)) : nullptr;
}

void ForceBufferedFiles(bool force) {
    forceBuffered.store(force);
}

}  // namespace orvale::platform
