// The history index decoder on arbitrary bytes: it must either refuse them
// with StoreError or return records that satisfy the index invariants and
// survive a round trip through the writer unchanged.

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "core/ScreenshotStore.h"

using lumacap::CaptureRecord;
using lumacap::ScreenshotStore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<CaptureRecord> records;
  try {
    records = ScreenshotStore::decodeIndex(bytes);
  } catch (const lumacap::StoreError&) {
    return 0;
  }
  std::set<std::string> ids;
  std::set<std::string> filenames;
  for (const CaptureRecord& record : records) {
    if (record.id.size() != 36 || record.filename.empty() || record.filename.front() == '.' ||
        record.filename.find('/') != std::string::npos || !record.filename.ends_with(".png")) {
      std::abort();
    }
    ids.insert(record.id);
    filenames.insert(record.filename);
  }
  if (ids.size() != records.size() || filenames.size() != records.size()) std::abort();

  const std::string encoded = ScreenshotStore::encodeIndex(records);
  if (ScreenshotStore::decodeIndex(encoded) != records) std::abort();
  return 0;
}
