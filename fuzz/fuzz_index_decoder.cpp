// The history index decoder on arbitrary bytes. It must agree with a plain
// reading of the JSON document (below), refuse what it refuses with
// StoreError, and return only records that satisfy the index invariants and
// survive a round trip through the writer unchanged.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>

#include "core/ScreenshotStore.h"

using lumacap::CaptureRecord;
using lumacap::ScreenshotStore;
using nlohmann::json;

namespace {

bool isUuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen != (text[i] == '-') || (!hyphen && !std::isxdigit(static_cast<unsigned char>(text[i])))) {
      return false;
    }
  }
  return true;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool readOptional(const json& object, const char* key, std::optional<std::string>& field) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return true;
  if (!found->is_string()) return false;
  field = found->get<std::string>();
  return field->size() <= ScreenshotStore::maximumTextSize;
}

// The index read the slow, obvious way: the whole document first.
std::optional<std::vector<CaptureRecord>> referenceDecode(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;  // a reader would stop there
  const json list = json::parse(bytes, nullptr, false);
  if (list.is_discarded() || !list.is_array()) return std::nullopt;
  std::vector<CaptureRecord> records;
  std::set<std::string> ids;
  std::set<std::string> filenames;
  for (const json& object : list) {
    if (!object.is_object()) return std::nullopt;
    const auto id = object.find("id");
    const auto filename = object.find("filename");
    const auto createdAt = object.find("createdAt");
    if (id == object.end() || !id->is_string() || !isUuid(id->get<std::string>())) return std::nullopt;
    if (filename == object.end() || !filename->is_string()) return std::nullopt;
    if (createdAt == object.end() || !createdAt->is_number() || !std::isfinite(createdAt->get<double>())) {
      return std::nullopt;
    }
    CaptureRecord record;
    record.id = upper(id->get<std::string>());
    record.filename = filename->get<std::string>();
    record.createdAt.secondsSinceReferenceDate = createdAt->get<double>();
    if (!readOptional(object, "application", record.application) ||
        !readOptional(object, "destination", record.destination) ||
        !readOptional(object, "deliveryStatus", record.deliveryStatus)) {
      return std::nullopt;
    }
    ids.insert(record.id);
    filenames.insert(record.filename);
    records.push_back(record);
  }
  if (ids.size() != records.size() || filenames.size() != records.size()) return std::nullopt;
  for (const CaptureRecord& record : records) {
    const std::string& name = record.filename;
    if (name.empty() || name.size() > ScreenshotStore::maximumFilenameSize ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos || name.front() == '.' ||
        !name.ends_with(".png")) {
      return std::nullopt;
    }
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<std::vector<CaptureRecord>> expected = referenceDecode(bytes);
  std::optional<std::vector<CaptureRecord>> records;
  try {
    records = ScreenshotStore::decodeIndex(bytes);
  } catch (const lumacap::StoreError&) {
  }
  if (records != expected) std::abort();
  if (!records) return 0;

  const std::string encoded = ScreenshotStore::encodeIndex(*records);
  if (ScreenshotStore::decodeIndex(encoded) != *records) std::abort();
  if (referenceDecode(encoded) != *records) std::abort();
  return 0;
}
