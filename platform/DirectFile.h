// A file read and written around the system cache (O_DIRECT), with
// transfers that run as jobs on an I/O service and report to a handler there.
//
// Unbuffered transfers need buffers, offsets and lengths that are multiples
// of kDirectIoAlignment; the caller keeps a buffer alive until its handler
// has run. Where the filesystem refuses O_DIRECT the file is opened buffered
// instead (IsDirect() tells), so the same calls work everywhere.
//
// Every transfer is finished: a short read or write is continued until the
// whole length has moved. A write that still ends short is an error; a read
// stops early only at the end of the file, which is not an error.
//
// The descriptor is shared with the jobs in flight: Close() only drops this
// object's hold on it, and it is closed once the last job has finished, so a
// job never touches a closed (or reused) descriptor. All members may be
// called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>

#include <boost/asio/io_context.hpp>

namespace orvale::platform {

inline constexpr std::size_t kDirectIoAlignment = 4096;

// Called once per transfer, on a thread of the file's I/O service.
using TransferHandler = std::function<void(const std::error_code& error, std::size_t transferred)>;

class DirectFile {
  public:
    enum class Access { kRead, kReadWrite };

    explicit DirectFile(boost::asio::io_context& io);
    ~DirectFile();

    DirectFile(const DirectFile&) = delete;
    DirectFile& operator=(const DirectFile&) = delete;

    // Opens an existing file; an open file is not opened again (EALREADY).
    // Read-write, it also takes the file's writer lock, which a holder in
    // this or another process keeps until it closes (EBUSY meanwhile).
    std::error_code Open(const std::filesystem::path& path, Access access);
    bool IsOpen() const;
    // False when the file fell back to buffered transfers.
    bool IsDirect() const;
    void Close();

    // Grows the file to at least `size` bytes, allocating the blocks.
    std::error_code Reserve(int64_t size);
    // Forces the written data and the size to the device.
    std::error_code Sync();

    // Synchronous transfers on the calling thread.
    std::error_code WriteAt(int64_t offset, const void* data, std::size_t length);
    std::error_code ReadAt(int64_t offset, void* data, std::size_t length, std::size_t& read);

    // Asynchronous transfers, run as jobs on the I/O service. A transfer
    // marked as the `continuation` of the calling job of that service is
    // taken by the same thread as soon as that job returns, without waking
    // another one; only a job that returns at once (never one that goes on
    // to block) may mark it so.
    void AsyncWriteAt(int64_t offset, const void* data, std::size_t length, TransferHandler handler,
                      bool continuation = false);
    void AsyncReadAt(int64_t offset, void* data, std::size_t length, TransferHandler handler,
                     bool continuation = false);

  private:
    struct Handle;
    std::shared_ptr<Handle> CurrentHandle() const;

    boost::asio::io_context& io_;
    mutable std::mutex mutex_;
    std::shared_ptr<Handle> handle_;
};

// Creates a new file (failing when one exists) and allocates `size` bytes for
// it; where the filesystem cannot allocate, its length is set instead. The
// file stays on disk even when the allocation fails.
std::error_code CreatePreallocatedFile(const std::filesystem::path& path, int64_t size);

// Sets the length of an existing file.
std::error_code TruncateFile(const std::filesystem::path& path, int64_t size);

// For tests: every asynchronous write runs through the hook, which gets its
// offset, its length and the transfer itself, and returns the write's error:
// it may delay the transfer, run it, or fail the write without running it.
// An empty hook restores plain transfers.
using WriteHook = std::function<std::error_code(int64_t offset, std::size_t length,
                                                const std::function<std::error_code()>& transfer)>;
void SetWriteHookForTesting(WriteHook hook);

// Makes every later Open behave as on a filesystem that refuses O_DIRECT.
// For tests of the buffered path; false restores the normal behaviour.
void ForceBufferedFiles(bool force);

}  // namespace orvale::platform
