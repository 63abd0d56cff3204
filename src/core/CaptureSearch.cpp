#include "core/CaptureSearch.h"

#include <algorithm>
#include <unordered_map>

#include "core/Unicode.h"

namespace lumacap {

std::string CaptureSearch::folded(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
  if (!ascii) return unicode::lowercased(unicode::foldDiacriticsAndWidth(text));
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

void CaptureSearch::setRecords(const std::vector<CaptureRecord>& records) {
  std::unordered_map<std::string_view, Entry*> known;
  for (Entry& entry : entries_) known.emplace(entry.record.id, &entry);
  std::vector<Entry> entries;
  entries.reserve(records.size());
  for (const CaptureRecord& record : records) {
    const auto found = known.find(record.id);
    if (found != known.end() && found->second->record == record) {
      entries.push_back(std::move(*found->second));
      continue;
    }
    std::string text = record.filename;
    for (const auto* field : {&record.message, &record.recognizedText, &record.destination}) {
      if (*field) text += "\n" + **field;
    }
    entries.push_back({record, folded(text)});
  }
  entries_ = std::move(entries);
}

std::vector<size_t> CaptureSearch::matches(std::string_view query) const {
  std::vector<std::string> words;
  const std::string wanted = folded(query);
  for (size_t start = 0; start < wanted.size();) {
    const size_t end = std::min(wanted.find_first_of(" \t\n", start), wanted.size());
    if (end > start) words.push_back(wanted.substr(start, end - start));
    start = end + 1;
  }
  std::vector<size_t> rows;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string& text = entries_[i].text;
    if (std::all_of(words.begin(), words.end(),
                    [&](const std::string& word) { return text.find(word) != std::string::npos; }))
      rows.push_back(i);
  }
  return rows;
}

}  // namespace lumacap
