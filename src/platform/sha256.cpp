#include "platform/sha256.h"

#include <openssl/evp.h>

namespace norva {

bool sha256Digest(const void *bytes, size_t length, Sha256Digest &out) {
  unsigned int size = 0;
  static const uint8_t kNothing = 0;
  if (bytes == nullptr) bytes = &kNothing; // the digest of no bytes
  return EVP_Digest(bytes, length, out.data(), &size, EVP_sha256(), nullptr) == 1 && size == out.size();
}

std::string sha256HexOf(const Sha256Digest &digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(digest.size() * 2, '0');
  for (size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return out;
}

} // namespace norva
