// A tmpfs of a test's own, mounted on a folder for the test's life, for cases
// that need a volume that really runs full. Mounting needs root (the machine
// and CI run as root); where it is refused, Mounted() is false and Why() says
// why, so the test can skip with that reason.
#pragma once

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvale::test {

class SmallVolume {
  public:
    SmallVolume(std::filesystem::path folder, uint64_t mib) : folder_(std::move(folder)) {
        std::error_code ignored;
        std::filesystem::create_directories(folder_, ignored);
        const std::string options = "size=" + std::to_string(mib) + "m";
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) error_ = errno;
    }
    ~SmallVolume() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;

    bool Mounted() const { return mounted_; }
    std::string Why() const {
        return "mounting a tmpfs is not permitted here (" + std::string(std::strerror(error_)) +
               "); run as root";
    }
    const std::filesystem::path& Folder() const { return folder_; }

    uint64_t Available() const {
        struct statvfs info {};
        if (::statvfs(folder_.c_str(), &info) != 0) return 0;
        return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    }

    // Fills the volume with a file until `leave` bytes are available.
    void FillLeaving(uint64_t leave, const std::string& name = "filler") const {
        std::ofstream out(folder_ / name, std::ios::binary | std::ios::app);
        const std::vector<char> block(1 << 20, 'f');
        uint64_t available = Available();
        while (available > leave) {
            const uint64_t step = std::min<uint64_t>(block.size(), available - leave);
            out.write(block.data(), static_cast<std::streamsize>(step));
            out.flush();
            const uint64_t now = Available();
            if (now >= available) break;  // the volume took nothing more
            available = now;
        }
    }

  private:
    std::filesystem::path folder_;
    bool mounted_ = false;
    int error_ = 0;
};

}  // namespace orvale::test
