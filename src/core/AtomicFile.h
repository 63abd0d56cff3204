#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lumacap {

// Whether a replaced file must also survive a power cut (flushed to disk
// before the rename), or only ever be seen whole by readers.
enum class Durability { flushed, atomicOnly };

// Replaces `target` with `bytes` as one step: the bytes go to a temporary file
// in the same folder, which is renamed over the target. A reader sees the old
// or the new content, never a mix. The file ends with mode 0600. When `target`
// is a symbolic link, the file it points to is replaced and the link stays.
// Throws std::system_error naming the path.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability = Durability::flushed);

// Creates `file` with `bytes`, mode 0600, failing when the name is already
// taken: an existing file is never replaced. The bytes are on disk before this
// returns; a file it could not finish is removed again.
void writeNewPrivateFile(const std::filesystem::path& file, std::string_view bytes);

// Flushes a folder's entries (a created, renamed or removed name) to disk.
// Best effort: a folder that cannot be opened is left alone.
void syncFolder(const std::filesystem::path& folder);

// Creates `folder` and any missing parents; folders created here get mode 0700,
// existing ones keep theirs. Throws std::system_error naming the path.
void createPrivateDirectories(const std::filesystem::path& folder);

// Reads a whole file. Throws std::system_error naming the path.
std::string readWholeFile(const std::filesystem::path& file);

// A std::system_error for errno whose text names the path.
[[noreturn]] void throwSystemError(int error, const std::string& what, const std::filesystem::path& path);

}  // namespace lumacap
