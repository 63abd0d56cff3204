#include "core/StagingText.h"

#include <utf8proc.h>
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "core/Unicode.h"

namespace lumacap {
namespace {

bool isWhiteSpaceOrLineBreak(char32_t codePoint) {
  if (codePoint == U'\t' || codePoint == U'\n' || codePoint == U'\v' || codePoint == U'\f' ||
      codePoint == U'\r' || codePoint == 0x85) {
    return true;
  }
  const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

bool isPrintable(char32_t codePoint) {
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(codePoint))) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return false;
    default:
      return true;
  }
}

bool isMark(char32_t codePoint) {
  const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
  return category == UTF8PROC_CATEGORY_MN || category == UTF8PROC_CATEGORY_MC ||
         category == UTF8PROC_CATEGORY_ME;
}

std::string unicodeEscape(char32_t codePoint) {
  char escape[16];
  std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned>(codePoint));
  return escape;
}

std::string trimmed(const std::string& text) {
  std::u32string codePoints = unicode::decode(text);
  size_t begin = 0;
  size_t end = codePoints.size();
  while (begin < end && isWhiteSpaceOrLineBreak(codePoints[begin])) ++begin;
  while (end > begin && isWhiteSpaceOrLineBreak(codePoints[end - 1])) --end;
  return unicode::encode(std::u32string_view(codePoints).substr(begin, end - begin));
}

}  // namespace

std::string StagingText::quoted(const std::string& path) {
  std::string result = "\"";
  // A combining mark right after a quote or an escape would merge with it.
  bool afterSyntax = true;
  for (char32_t codePoint : unicode::decode(path)) {
    const bool mergesWithPrevious = afterSyntax && isMark(codePoint);
    afterSyntax = true;
    switch (codePoint) {
      case U'\\':
        result += "\\\\";
        break;
      case U'"':
        result += "\\\"";
        break;
      case U'\'':
        result += "\\'";
        break;
      case U'\0':
        result += "\\0";
        break;
      case U'\t':
        result += "\\t";
        break;
      case U'\n':
        result += "\\n";
        break;
      case U'\r':
        result += "\\r";
        break;
      default:
        if (isPrintable(codePoint) && !mergesWithPrevious) {
          result += unicode::encode(std::u32string(1, codePoint));
          afterSyntax = false;
        } else {
          result += unicodeEscape(codePoint);
        }
    }
  }
  return result + "\"";
}

std::string StagingText::make(const std::filesystem::path& file, const std::string& prompt) {
  return make(file, prompt, StagingStyle::sentence);
}

std::string StagingText::make(const std::filesystem::path& file, const std::string& prompt,
                              StagingStyle style) {
  const std::string path = std::filesystem::absolute(file).string();
  const std::u32string characters = unicode::decode(path);
  const bool plain = std::all_of(characters.begin(), characters.end(), [](char32_t c) {
    return isPrintable(c) && !isWhiteSpaceOrLineBreak(c) && c != U'"' && c != U'\'' && c != U'\\';
  });
  std::string text;
  switch (style) {
    case StagingStyle::sentence:
      text = "Please inspect the local screenshot at " + quoted(path) + ".";
      break;
    case StagingStyle::pathAlone:
      text = plain ? path : quoted(path);
      break;
    case StagingStyle::mentionedPath:
      text = "@";
      for (const char c : path) {
        if (c == ' ' || c == '\\') text += '\\';
        text += c;
      }
      break;
  }
  const std::string message = trimmed(prompt);
  if (!message.empty()) text += "\n\n" + message;
  return text;
}

}  // namespace lumacap
