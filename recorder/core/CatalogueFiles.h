// The catalogue's folders below the host program (DB, DB/Import, DB/Backup)
// and the file operations on its three files (orvale.kvtdb, -shm, -wal).
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
    // Copies the files that exist in `from` over those in `to`; throws
    // std::filesystem::filesystem_error.
    void Copy(const std::filesystem::path& from, const std::filesystem::path& to) const;
    // Removes the three files where they exist; a failure is logged and the
    // remaining names are skipped. False when something could not be removed.
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
