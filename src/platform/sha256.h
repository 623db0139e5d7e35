// SHA-256 of a byte range (OpenSSL's libcrypto on Linux).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace norva {

using Sha256Digest = std::array<uint8_t, 32>;

// False only when the digest could not be computed (the library refused).
bool sha256Digest(const void *bytes, size_t length, Sha256Digest &out);

// The digest as 64 lower-case hex digits.
std::string sha256HexOf(const Sha256Digest &digest);

} // namespace norva
