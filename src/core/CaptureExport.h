#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumacap {

// What exporting a set of captures did: how many copies were written, and
// why it stopped early, if it did.
struct ExportOutcome {
  size_t exported = 0;
  std::optional<std::string> failure;
  bool operator==(const ExportOutcome&) const = default;
};

// Copies the images into `folder` (the user's own files there, mode as
// umask gives), each under its own name or, when that is taken, the first
// free "<stem>-N.png"; an existing file is never replaced. Stops at the
// first image that cannot be read or written.
ExportOutcome exportCaptures(const std::vector<std::filesystem::path>& images,
                             const std::filesystem::path& folder);

}  // namespace lumacap
