#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumacap::unicode {

// Decodes UTF-8 to code points; an invalid byte becomes U+FFFD.
std::u32string decode(std::string_view utf8);
std::string encode(std::u32string_view codePoints);

bool isValidUtf8(std::string_view bytes);

// The string split into user-perceived characters (extended grapheme clusters).
std::vector<std::string> graphemes(std::string_view utf8);
size_t graphemeCount(std::string_view utf8);

// Folds away diacritics and character width: compatibility decomposition, the
// non-spacing marks dropped, then recomposed. "Déjà" → "Deja", "ＡＢ" → "AB".
// Letter case is kept.
std::string foldDiacriticsAndWidth(std::string_view utf8);

// The locale-independent Unicode lower-case mapping.
std::string lowercased(std::string_view utf8);

// Letters, combining marks and numbers of every script.
bool isAlphanumeric(char32_t codePoint);
bool isLetter(char32_t codePoint);
bool isDecimalDigit(char32_t codePoint);
// Numbers of every kind: decimal digits, letter numbers (Ⅻ) and others (½).
bool isNumber(char32_t codePoint);

}  // namespace lumacap::unicode
