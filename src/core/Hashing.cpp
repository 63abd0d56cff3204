#include "core/Hashing.h"

#include <openssl/evp.h>
#include <uuid/uuid.h>

#include <array>
#include <stdexcept>

namespace lumacap {

std::string sha256Hex(std::string_view bytes) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
  static constexpr char hexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(hexDigits[digest[i] >> 4]);
    hex.push_back(hexDigits[digest[i] & 0x0f]);
  }
  return hex;
}

std::string randomUuidString() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return text;
}

}  // namespace lumacap
