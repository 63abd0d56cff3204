#include "core/Hashing.h"

#include <nettle/sha2.h>
#include <uuid/uuid.h>

#include <array>

namespace lumacap {

std::string sha256Hex(std::string_view bytes) {
  sha256_ctx context;
  std::array<uint8_t, SHA256_DIGEST_SIZE> digest{};
  sha256_init(&context);
  sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  sha256_digest(&context, digest.size(), digest.data());
  static constexpr char hexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    hex.push_back(hexDigits[byte >> 4]);
    hex.push_back(hexDigits[byte & 0x0f]);
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
