#pragma once

#include <string>
#include <string_view>

namespace lumacap {

// SHA-256 of the bytes, as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view bytes);

// A fresh random (version 4) UUID in upper-case text form, 36 characters.
std::string randomUuidString();

}  // namespace lumacap
