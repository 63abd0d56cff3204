#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Date.h"

namespace lumacap {

// Proposes a file name for a new capture.
class FilenameGenerating {
 public:
  virtual ~FilenameGenerating() = default;
  virtual std::string filename(const std::vector<std::string>& text,
                               const std::optional<std::string>& application,
                               const std::optional<std::string>& windowTitle, Date date) const = 0;
};

// Short, readable, file-system-safe PNG names. Pure: the only outside input is
// the local time zone of the timestamp fallback.
class FilenameGenerator final : public FilenameGenerating {
 public:
  // The window title wins, then each text line in order; the first source
  // with two usable words gives up to five of them. Otherwise the application
  // name (or "capture") and a local timestamp.
  std::string filename(const std::vector<std::string>& text, const std::optional<std::string>& application,
                       const std::optional<std::string>& windowTitle, Date date) const override;

  // The safe base of a stored file name: lower-case tokens joined by "-", at
  // most 90 characters and 180 bytes, never empty, never holding ".".
  static std::string stem(std::string_view name);

 private:
  static std::vector<std::string> tokens(std::string_view text);
};

}  // namespace lumacap
