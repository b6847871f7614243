#include "recorder/database/HeapWalIndex.h"

#include <sqlite3.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FileIdentity.h"

namespace orvale::recorder {

namespace {

constexpr char kVfsName[] = "ostrel-heap-wal-index";

// The log index of one database file and the locks on it, shared by every
// connection of the process to that file. `mutex` guards the lock state and
// the list of regions; the bytes of a region are SQLite's to order (with
// its locks and xShmBarrier), as in a mapped file.
struct SharedIndex {
    std::mutex mutex;
    int regionSize = 0;
    std::vector<std::unique_ptr<char[]>> regions;  // stable addresses
    int shared[SQLITE_SHM_NLOCK] = {};
    const void* exclusive[SQLITE_SHM_NLOCK] = {};
};

// The shared indexes by database file, with the number of connections that
// map each: an index lives while one maps it.
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::pair<std::shared_ptr<SharedIndex>, int>> indexes;
};

Registry& Indexes() {
    static Registry* registry = new Registry();  // outlives every connection
    return *registry;
}

// One connection's hold on its file's index.
struct Mapping {
    std::string path;
    std::shared_ptr<SharedIndex> index;
    unsigned sharedMask = 0;
    unsigned exclusiveMask = 0;
};

// A main database file: our methods in front of the default vfs's file,
// which lies right behind this header in the same allocation.
struct HeapFile {
    sqlite3_file base;
    sqlite3_file* real;
    std::string* path;  // owned: the file's identity (its path where none)
    Mapping* mapping;   // owned; null until the log index is first mapped
};

constexpr size_t kRealOffset = (sizeof(HeapFile) + 15) & ~size_t{15};

sqlite3_vfs* RealVfs(sqlite3_vfs* vfs) {
    return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

sqlite3_file* Real(sqlite3_file* file) {
    return reinterpret_cast<HeapFile*>(file)->real;
}

// Drops the connection's locks and its hold on the index.
void Unmap(HeapFile& file) {
    Mapping* mapping = file.mapping;
    if (mapping == nullptr) return;
    file.mapping = nullptr;
    {
        std::lock_guard lock(mapping->index->mutex);
        for (int i = 0; i < SQLITE_SHM_NLOCK; ++i) {
            if ((mapping->sharedMask & (1u << i)) != 0) --mapping->index->shared[i];
            if ((mapping->exclusiveMask & (1u << i)) != 0) mapping->index->exclusive[i] = nullptr;
        }
    }
    {
        Registry& registry = Indexes();
        std::lock_guard lock(registry.mutex);
        const auto found = registry.indexes.find(mapping->path);
        if (found != registry.indexes.end() && --found->second.second == 0) {
            registry.indexes.erase(found);
        }
    }
    delete mapping;
}

Mapping* MappingOf(HeapFile& file) {
    if (file.mapping != nullptr) return file.mapping;
    auto mapping = std::make_unique<Mapping>();
    mapping->path = *file.path;
    Registry& registry = Indexes();
    std::lock_guard lock(registry.mutex);
    auto& entry = registry.indexes[mapping->path];
    if (!entry.first) entry.first = std::make_shared<SharedIndex>();
    ++entry.second;
    mapping->index = entry.first;
    file.mapping = mapping.release();
    return file.mapping;
}

int Close(sqlite3_file* file) {
    auto* heap = reinterpret_cast<HeapFile*>(file);
    Unmap(*heap);
    const int rc =
        heap->real->pMethods != nullptr ? heap->real->pMethods->xClose(heap->real) : SQLITE_OK;
    delete heap->path;
    heap->path = nullptr;
    return rc;
}

int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return Real(file)->pMethods->xRead(Real(file), data, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    return Real(file)->pMethods->xWrite(Real(file), data, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return Real(file)->pMethods->xTruncate(Real(file), size);
}

int Sync(sqlite3_file* file, int flags) {
    return Real(file)->pMethods->xSync(Real(file), flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return Real(file)->pMethods->xFileSize(Real(file), size);
}

int Lock(sqlite3_file* file, int level) {
    return Real(file)->pMethods->xLock(Real(file), level);
}

int Unlock(sqlite3_file* file, int level) {
    return Real(file)->pMethods->xUnlock(Real(file), level);
}

int CheckReservedLock(sqlite3_file* file, int* reserved) {
    return Real(file)->pMethods->xCheckReservedLock(Real(file), reserved);
}

int FileControl(sqlite3_file* file, int op, void* argument) {
    return Real(file)->pMethods->xFileControl(Real(file), op, argument);
}

int SectorSize(sqlite3_file* file) {
    return Real(file)->pMethods->xSectorSize(Real(file));
}

int DeviceCharacteristics(sqlite3_file* file) {
    return Real(file)->pMethods->xDeviceCharacteristics(Real(file));
}

int ShmMap(sqlite3_file* file, int region, int regionSize, int extend, void volatile** out) {
    *out = nullptr;
    Mapping* mapping = MappingOf(*reinterpret_cast<HeapFile*>(file));
    SharedIndex& index = *mapping->index;
    std::lock_guard lock(index.mutex);
    if (index.regionSize == 0) index.regionSize = regionSize;
    if (index.regionSize != regionSize) return SQLITE_IOERR_SHMMAP;
    if (static_cast<size_t>(region) >= index.regions.size()) {
        if (extend == 0) return SQLITE_OK;
        while (index.regions.size() <= static_cast<size_t>(region)) {
            auto bytes = std::unique_ptr<char[]>(new (std::nothrow) char[regionSize]);
            if (!bytes) return SQLITE_NOMEM;
            std::memset(bytes.get(), 0, static_cast<size_t>(regionSize));
            index.regions.push_back(std::move(bytes));
        }
    }
    *out = index.regions[static_cast<size_t>(region)].get();
    return SQLITE_OK;
}

// The locks of SQLite's shared memory: per slot many shared holders or one
// exclusive one; a conflict is SQLITE_BUSY at once (SQLite retries).
int ShmLock(sqlite3_file* file, int offset, int count, int flags) {
    Mapping* mapping = MappingOf(*reinterpret_cast<HeapFile*>(file));
    SharedIndex& index = *mapping->index;
    const unsigned mask = ((1u << count) - 1u) << offset;
    std::lock_guard lock(index.mutex);
    if ((flags & SQLITE_SHM_UNLOCK) != 0) {
        for (int i = offset; i < offset + count; ++i) {
            const unsigned bit = 1u << i;
            if ((mapping->sharedMask & bit) != 0) --index.shared[i];
            if ((mapping->exclusiveMask & bit) != 0) index.exclusive[i] = nullptr;
        }
        mapping->sharedMask &= ~mask;
        mapping->exclusiveMask &= ~mask;
        return SQLITE_OK;
    }
    if ((flags & SQLITE_SHM_SHARED) != 0) {
        for (int i = offset; i < offset + count; ++i) {
            if (index.exclusive[i] != nullptr && index.exclusive[i] != mapping) return SQLITE_BUSY;
        }
        for (int i = offset; i < offset + count; ++i) {
            if ((mapping->sharedMask & (1u << i)) == 0) ++index.shared[i];
        }
        mapping->sharedMask |= mask;
        return SQLITE_OK;
    }
    for (int i = offset; i < offset + count; ++i) {
        const int others = index.shared[i] - ((mapping->sharedMask & (1u << i)) != 0 ? 1 : 0);
        if (others > 0 || (index.exclusive[i] != nullptr && index.exclusive[i] != mapping)) {
            return SQLITE_BUSY;
        }
    }
    for (int i = offset; i < offset + count; ++i) index.exclusive[i] = mapping;
    mapping->exclusiveMask |= mask;
    return SQLITE_OK;
}

void ShmBarrier(sqlite3_file*) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

int ShmUnmap(sqlite3_file* file, int /*deleteFlag*/) {
    Unmap(*reinterpret_cast<HeapFile*>(file));
    return SQLITE_OK;
}

// Version 2: shared memory, but no xFetch, so SQLite never maps the database
// file itself into memory either.
const sqlite3_io_methods kMethods = {
    2,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    nullptr,
    nullptr,
};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    sqlite3_vfs* real = RealVfs(vfs);
    if ((flags & SQLITE_OPEN_MAIN_DB) == 0 || name == nullptr) {
        // Logs, journals and temporary files are the default vfs's own.
        return real->xOpen(real, name, file, flags, outFlags);
    }
    auto* heap = reinterpret_cast<HeapFile*>(file);
    heap->base.pMethods = nullptr;
    heap->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kRealOffset);
    heap->real->pMethods = nullptr;
    heap->path = nullptr;
    heap->mapping = nullptr;
    const int rc = real->xOpen(real, name, heap->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (heap->real->pMethods != nullptr) heap->real->pMethods->xClose(heap->real);
        return rc;
    }
    // By identity, as SQLite's own shared memory is: a file moved to the path
    // of one still open elsewhere must not find that one's index.
    const auto identity = platform::IdentifyFile(name);
    heap->path = new (std::nothrow) std::string(identity ? std::to_string(identity->device) + ":" +
                                                               std::to_string(identity->inode)
                                                         : std::string(name));
    if (heap->path == nullptr) {
        heap->real->pMethods->xClose(heap->real);
        return SQLITE_NOMEM;
    }
    heap->base.pMethods = &kMethods;
    return SQLITE_OK;
}

int Delete(sqlite3_vfs* vfs, const char* name, int syncDir) {
    return RealVfs(vfs)->xDelete(RealVfs(vfs), name, syncDir);
}

int Access(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
    return RealVfs(vfs)->xAccess(RealVfs(vfs), name, flags, result);
}

int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return RealVfs(vfs)->xFullPathname(RealVfs(vfs), name, size, out);
}

void* DlOpen(sqlite3_vfs* vfs, const char* name) {
    return RealVfs(vfs)->xDlOpen(RealVfs(vfs), name);
}

void DlError(sqlite3_vfs* vfs, int size, char* out) {
    RealVfs(vfs)->xDlError(RealVfs(vfs), size, out);
}

void (*DlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))() {
    return RealVfs(vfs)->xDlSym(RealVfs(vfs), handle, symbol);
}

void DlClose(sqlite3_vfs* vfs, void* handle) {
    RealVfs(vfs)->xDlClose(RealVfs(vfs), handle);
}

int Randomness(sqlite3_vfs* vfs, int size, char* out) {
    return RealVfs(vfs)->xRandomness(RealVfs(vfs), size, out);
}

int Sleep(sqlite3_vfs* vfs, int microseconds) {
    return RealVfs(vfs)->xSleep(RealVfs(vfs), microseconds);
}

int CurrentTime(sqlite3_vfs* vfs, double* now) {
    return RealVfs(vfs)->xCurrentTime(RealVfs(vfs), now);
}

int GetLastError(sqlite3_vfs* vfs, int size, char* out) {
    return RealVfs(vfs)->xGetLastError(RealVfs(vfs), size, out);
}

int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now) {
    sqlite3_vfs* real = RealVfs(vfs);
    if (real->iVersion >= 2 && real->xCurrentTimeInt64 != nullptr) {
        return real->xCurrentTimeInt64(real, now);
    }
    double days = 0;
    const int rc = real->xCurrentTime(real, &days);
    *now = static_cast<sqlite3_int64>(days * 86400000.0);
    return rc;
}

sqlite3_vfs* MakeVfs() {
    sqlite3_initialize();
    sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
    if (real == nullptr) return nullptr;
    auto* vfs = new sqlite3_vfs{};
    vfs->iVersion = 2;
    vfs->szOsFile = static_cast<int>(kRealOffset) + real->szOsFile;
    vfs->mxPathname = real->mxPathname;
    vfs->zName = kVfsName;
    vfs->pAppData = real;
    vfs->xOpen = Open;
    vfs->xDelete = Delete;
    vfs->xAccess = Access;
    vfs->xFullPathname = FullPathname;
    vfs->xDlOpen = DlOpen;
    vfs->xDlError = DlError;
    vfs->xDlSym = DlSym;
    vfs->xDlClose = DlClose;
    vfs->xRandomness = Randomness;
    vfs->xSleep = Sleep;
    vfs->xCurrentTime = CurrentTime;
    vfs->xGetLastError = GetLastError;
    vfs->xCurrentTimeInt64 = CurrentTimeInt64;
    if (sqlite3_vfs_register(vfs, 0) != SQLITE_OK) {
        delete vfs;
        return nullptr;
    }
    return vfs;
}

}  // namespace

const char* HeapWalIndexVfs() {
    static sqlite3_vfs* const vfs = MakeVfs();
    // Without it (SQLite refused it) connections fall back to the default vfs.
    return vfs != nullptr ? vfs->zName : nullptr;
}

}  // namespace orvale::recorder
