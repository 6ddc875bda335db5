// Replacing a file so that a crash, a kill or a full disk at any moment leaves either the old
// file or the new one, never a mixture: the one writer used by the data file and the settings.
#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

// Writes `bytes` to a temporary file beside `file` (mode 0600; on Windows open to the user, the
// administrators and the system alone), flushes it to disk, renames it over `file` and makes
// the rename durable. Returns 0, or an errno value when it failed; then `file` is as it was
// and the temporary file is gone.
int ReplaceFile(const std::filesystem::path& file, std::string_view bytes);

// Removes the temporary files that a ReplaceFile of `file` killed midway left behind (each a
// whole or partial copy of private data). A temporary file that a live writer is still
// filling, or that belongs to another user, is left alone.
void RemoveLeftoverTemporaries(const std::filesystem::path& file);

}  // namespace platform
