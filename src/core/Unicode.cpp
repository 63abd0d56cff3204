#include "core/Unicode.h"

#include <utf8proc.h>

#include <cstdlib>

namespace lumacap::unicode {
namespace {

utf8proc_category_t category(char32_t codePoint) {
  return utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
}

}  // namespace

std::u32string decode(std::string_view utf8) {
  std::u32string result;
  result.reserve(utf8.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(utf8.size());
  while (remaining > 0) {
    utf8proc_int32_t codePoint = 0;
    utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codePoint);
    if (used <= 0) {
      codePoint = 0xFFFD;
      used = 1;
    }
    result.push_back(static_cast<char32_t>(codePoint));
    bytes += used;
    remaining -= used;
  }
  return result;
}

std::string encode(std::u32string_view codePoints) {
  std::string result;
  result.reserve(codePoints.size());
  utf8proc_uint8_t buffer[4];
  for (char32_t codePoint : codePoints) {
    const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(codePoint), buffer);
    result.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
  }
  return result;
}

bool isValidUtf8(std::string_view utf8) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(utf8.size());
  while (remaining > 0) {
    utf8proc_int32_t codePoint = 0;
    const utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codePoint);
    if (used <= 0) return false;
    bytes += used;
    remaining -= used;
  }
  return true;
}

std::vector<std::string> graphemes(std::string_view utf8) {
  std::vector<std::string> clusters;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(utf8.size());
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  size_t offset = 0;
  while (remaining > 0) {
    utf8proc_int32_t codePoint = 0;
    utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codePoint);
    if (used <= 0) {
      codePoint = 0xFFFD;
      used = 1;
    }
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &state)) {
      clusters.emplace_back();
    }
    clusters.back().append(utf8.substr(offset, static_cast<size_t>(used)));
    previous = codePoint;
    bytes += used;
    remaining -= used;
    offset += static_cast<size_t>(used);
  }
  return clusters;
}

size_t graphemeCount(std::string_view utf8) { return graphemes(utf8).size(); }

std::string foldDiacriticsAndWidth(std::string_view utf8) {
  std::u32string decomposed;
  for (char32_t codePoint : decode(utf8)) {
    utf8proc_int32_t parts[32];
    int lastBoundClass = 0;
    const utf8proc_ssize_t count = utf8proc_decompose_char(
        static_cast<utf8proc_int32_t>(codePoint), parts, 32,
        static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT), &lastBoundClass);
    if (count < 0 || count > 32) {
      decomposed.push_back(codePoint);
      continue;
    }
    for (utf8proc_ssize_t i = 0; i < count; ++i) {
      const auto part = static_cast<char32_t>(parts[i]);
      if (category(part) != UTF8PROC_CATEGORY_MN) decomposed.push_back(part);
    }
  }
  // Put canonical order back and recompose what can be recomposed (Hangul, etc).
  std::string bytes = encode(decomposed);
  utf8proc_uint8_t* composed = nullptr;
  const utf8proc_ssize_t length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(bytes.data()),
                                               static_cast<utf8proc_ssize_t>(bytes.size()), &composed,
                                               static_cast<utf8proc_option_t>(UTF8PROC_COMPOSE));
  if (length < 0) return bytes;
  std::string result(reinterpret_cast<const char*>(composed), static_cast<size_t>(length));
  std::free(composed);
  return result;
}

std::string lowercased(std::string_view utf8) {
  std::u32string codePoints = decode(utf8);
  for (char32_t& codePoint : codePoints) {
    codePoint = static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(codePoint)));
  }
  return encode(codePoints);
}

bool isLetter(char32_t codePoint) {
  switch (category(codePoint)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
      return true;
    default:
      return false;
  }
}

bool isDecimalDigit(char32_t codePoint) { return category(codePoint) == UTF8PROC_CATEGORY_ND; }

bool isNumber(char32_t codePoint) {
  const auto kind = category(codePoint);
  return kind == UTF8PROC_CATEGORY_ND || kind == UTF8PROC_CATEGORY_NL || kind == UTF8PROC_CATEGORY_NO;
}

bool isAlphanumeric(char32_t codePoint) {
  switch (category(codePoint)) {
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return isLetter(codePoint);
  }
}

}  // namespace lumacap::unicode
