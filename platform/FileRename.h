// Moving a finished file into place without ever replacing one that another
// writer put there first.
#pragma once

#include <string>

namespace orvale::platform {

enum class RenameResult { kDone, kTargetExists, kFailed };

// Flushes a file's data to its device; false when that failed.
bool SyncFile(const std::string& path);

// Renames `from` to `to` unless `to` exists (atomically where the file
// system supports it, else by hard link and unlink).
RenameResult RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace orvale::platform
