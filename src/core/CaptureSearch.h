#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/ScreenshotStore.h"

namespace lumacap {

// Finds captures by what the user remembers of them: words of the file
// name, the message, the recognised text or the destination. Matching
// ignores letter case, diacritics and character width; every word of a
// query must occur in one of those fields, also inside a longer word. The
// folded texts are kept per record and made again only for a
// record that changed, so each keystroke only scans.
class CaptureSearch {
 public:
  // Takes the history as it is now.
  void setRecords(const std::vector<CaptureRecord>& records);
  // The positions in the records of those matching `query`, in their
  // order; every position for a query without words.
  std::vector<size_t> matches(std::string_view query) const;

  // Lower case, without diacritics or width.
  static std::string folded(std::string_view text);

 private:
  struct Entry {
    CaptureRecord record;
    std::string text;  // the searched fields, folded, each on a line of its own
  };
  std::vector<Entry> entries_;
};

}  // namespace lumacap
