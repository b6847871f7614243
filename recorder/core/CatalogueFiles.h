// The catalogue's folders below the host program (DB, DB/Import, DB/Backup)
// and the file operations on its three files (orvale.kvtdb, -shm, -wal).
//
// A catalogue is replaced only by a copy that is complete: the copy is made
// beside its target under a name of its own, flushed, and then renamed over
// the target, so a failure at any step leaves the target as it was.
#pragma once

#include <filesystem>
#include <string>

namespace orvale::recorder {

class CatalogueFiles {
  public:
    // Folders below `hostFolder`.
    explicit CatalogueFiles(const std::filesystem::path& hostFolder);

    const std::filesystem::path& Base() const { return base_; }
    const std::filesystem::path& Import() const { return import_; }
    const std::filesystem::path& Backup() const { return backup_; }
    std::filesystem::path MainFile(const std::filesystem::path& folder) const;

    // Makes the three folders that are missing.
    void CreateFolders() const;
    // Whether the folder holds a catalogue file.
    bool Exists(const std::filesystem::path& folder) const;
    // Replaces the catalogue in `to` by a complete copy of the one in `from`
    // (its write-ahead log included); false, with `to` untouched, when the
    // copy could not be made or moved into place.
    bool CopyInto(const std::filesystem::path& from, const std::filesystem::path& to) const;
    // Where a new copy of the catalogue in `folder` is built before it is
    // moved into place.
    std::filesystem::path BuildingFile(const std::filesystem::path& folder) const;
    // Renames the complete file `building` over the catalogue in `folder`,
    // after flushing it. The target's old log is set aside first (it would be
    // replayed into the new file) and put back when the rename fails.
    bool MoveIntoPlace(const std::filesystem::path& building,
                       const std::filesystem::path& folder) const;
    // Removes the three files where they exist, and what a copy left there
    // unfinished; a failure is logged and the remaining names are skipped.
    // False when something could not be removed.
    bool Remove(const std::filesystem::path& folder) const;
    // Whether the catalogue in `folder` opens read-only and passes SQLite's
    // quick check.
    bool IsSound(const std::filesystem::path& folder) const;

  private:
    std::filesystem::path base_;
    std::filesystem::path import_;
    std::filesystem::path backup_;
};

}  // namespace orvale::recorder
