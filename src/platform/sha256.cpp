#include "platform/sha256.h"

#include <openssl/evp.h>

namespace norva {

bool sha256Digest(const void *bytes, size_t length, Sha256Digest &out) {
  unsigned int size = 0;
  static const uint8_t kNothing = 0;
  if (bytes == nullptr) bytes = &kNothing; // the digest of no bytes
  return EVP_Digest(bytes, length, out.data(), &size, EVP_sha256(), nullptr) == 1 && size == out.size();
}

} // namespace norva
