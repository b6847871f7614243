// The machine's storage volumes as the engine sees them: drive letters mapped
// to root folders, each with a kind, a storage bus and the space of its
// filesystem. The engine asks the process-wide provider; tests install a fake
// of their own.
//
// A letter is one upper-case character 'A'..'Z'. A volume is present while its
// root folder exists and, when that folder was a mount point the first time
// the provider saw it, while it still is one: nothing may ever be written into
// an empty mount-point folder that belongs to the system disk.
//
// Providers are shared between threads; every operation is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvale::platform {

// Kinds of volume, numbered as the engine's exported drive types.
enum class VolumeKind : uint32_t {
    kRemovable = 2,
    kFixed = 3,
    kRemote = 4,
    kCdrom = 5,
    kRamdisk = 6,
};

// Storage bus numbers reported with a volume.
inline constexpr uint32_t kBusUnknown = 0;
inline constexpr uint32_t kBusScsi = 1;
inline constexpr uint32_t kBusUsb = 7;
inline constexpr uint32_t kBusIscsi = 9;
inline constexpr uint32_t kBusSas = 10;
inline constexpr uint32_t kBusSata = 11;
inline constexpr uint32_t kBusNvme = 17;

struct VolumeInfo {
    char letter = 0;
    std::string root;  // absolute, no trailing '/' except for "/" itself
    VolumeKind kind = VolumeKind::kFixed;
    uint32_t busType = kBusUnknown;
    bool systemDisk = false;  // the root folder is "/"
};

// Byte counts of the filesystem that holds a volume's root folder.
struct VolumeSpace {
    uint64_t total = 0;
    uint64_t available = 0;  // what an unprivileged writer may still use
    uint64_t free = 0;       // available plus the blocks kept for the superuser
};

class VolumeProvider {
  public:
    virtual ~VolumeProvider() = default;

    // The present volumes, in letter order.
    virtual std::vector<VolumeInfo> ListVolumes() = 0;

    // The root folder mapped to `letter`, present or not; empty when the
    // letter is not mapped.
    virtual std::string RootFolder(char letter) = 0;

    virtual bool IsPresent(char letter) = 0;

    // Fills `space` and answers 0, or answers an error code for ErrorText:
    // ENODEV for a letter that is not mapped or whose volume is gone.
    virtual int GetSpace(char letter, VolumeSpace& space) = 0;
};

// The installed provider, or else the process's own LinuxVolumeProvider.
std::shared_ptr<VolumeProvider> CurrentVolumeProvider();

// Installs `provider` for the whole process; an empty pointer restores the
// default. Callers already holding the previous provider keep it alive.
void InstallVolumeProvider(std::shared_ptr<VolumeProvider> provider);

}  // namespace orvale::platform
