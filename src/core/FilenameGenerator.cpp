#include "core/FilenameGenerator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "core/Unicode.h"

namespace lumacap {
namespace {

constexpr std::array<std::string_view, 12> stopWords = {"the",  "and",  "for",   "with", "from", "this",
                                                        "that", "http", "https", "www",  "com",  "untitled"};
constexpr size_t maximumNameWords = 5;
constexpr size_t maximumStemCharacters = 90;
constexpr size_t maximumStemBytes = 180;

bool isUsableWord(const std::string& token) {
  const std::u32string codePoints = unicode::decode(token);
  const size_t characters = unicode::graphemeCount(token);
  if (characters < 3 || characters >= 24) return false;
  if (std::find(stopWords.begin(), stopWords.end(), token) != stopWords.end()) return false;
  const bool hasLetter = std::any_of(codePoints.begin(), codePoints.end(), unicode::isLetter);
  const bool hasDigit = std::any_of(codePoints.begin(), codePoints.end(), unicode::isDecimalDigit);
  return hasLetter && !hasDigit;
}

std::string joined(const std::vector<std::string>& words, size_t count) {
  std::string result;
  for (size_t i = 0; i < std::min(count, words.size()); ++i) {
    if (i > 0) result += '-';
    result += words[i];
  }
  return result;
}

std::optional<std::string> nameFrom(const std::vector<std::string>& tokens) {
  std::vector<std::string> words;
  for (const std::string& token : tokens) {
    if (isUsableWord(token) && std::find(words.begin(), words.end(), token) == words.end()) {
      words.push_back(token);
    }
  }
  if (words.size() < 2) return std::nullopt;
  return joined(words, maximumNameWords) + ".png";
}

std::string localTimestamp(Date date) {
  const auto seconds = static_cast<std::time_t>(std::floor(date.unixSeconds()));
  std::tm parts{};
  ::localtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d%02d%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace

std::vector<std::string> FilenameGenerator::tokens(std::string_view text) {
  const std::u32string codePoints =
      unicode::decode(unicode::lowercased(unicode::foldDiacriticsAndWidth(text)));
  std::vector<std::string> result;
  std::u32string current;
  for (char32_t codePoint : codePoints) {
    if (unicode::isAlphanumeric(codePoint)) {
      current.push_back(codePoint);
    } else if (!current.empty()) {
      result.push_back(unicode::encode(current));
      current.clear();
    }
  }
  if (!current.empty()) result.push_back(unicode::encode(current));
  return result;
}

std::string FilenameGenerator::stem(std::string_view name) {
  const std::string lowered = unicode::lowercased(name);
  if (lowered.size() >= 4 && lowered.ends_with(".png")) {
    // Drop the last four characters of the name itself (".PNG" included).
    const std::u32string codePoints = unicode::decode(name);
    name = name.substr(0, name.size() - unicode::encode(codePoints.substr(codePoints.size() - 4)).size());
  }
  std::vector<std::string> characters = unicode::graphemes(joined(tokens(name), SIZE_MAX));
  if (characters.size() > maximumStemCharacters) characters.resize(maximumStemCharacters);
  std::string result;
  for (const std::string& character : characters) result += character;
  while (result.size() > maximumStemBytes && !characters.empty()) {
    result.resize(result.size() - characters.back().size());
    characters.pop_back();
  }
  const size_t first = result.find_first_not_of('-');
  if (first == std::string::npos) return "capture";
  result = result.substr(first, result.find_last_not_of('-') - first + 1);
  return result.empty() ? "capture" : result;
}

std::string FilenameGenerator::filename(const std::vector<std::string>& text,
                                        const std::optional<std::string>& application,
                                        const std::optional<std::string>& windowTitle, Date date) const {
  std::vector<std::string_view> sources;
  if (windowTitle) sources.push_back(*windowTitle);
  for (const std::string& line : text) sources.push_back(line);
  for (std::string_view source : sources) {
    if (auto name = nameFrom(tokens(source))) return *name;
  }
  std::string prefix = application ? stem(*application) : "capture";
  return prefix + "-" + localTimestamp(date) + ".png";
}

}  // namespace lumacap
