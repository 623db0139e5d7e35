// HTTPS downloads into memory (libcurl). HTTPS only, redirects included;
// certificates and host names are always verified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norva {

inline constexpr long kHttpsConnectTimeoutSeconds = 30;
// A transfer that moves no byte for this long fails.
inline constexpr long kHttpsIdleTimeoutSeconds = 30;
inline constexpr long kHttpsTransferTimeoutSeconds = 300;
inline constexpr long kHttpsMaxRedirects = 10;
// The largest body a download keeps; a larger one fails cleanly.
inline constexpr size_t kHttpsMaxBodyBytes = size_t(512) << 20;

struct HttpsOptions {
  // A PEM file of certificate authorities to trust instead of the system's
  // bundle. For tests; the product passes none. Verification stays on.
  std::string caFile;
  size_t maxBodyBytes = kHttpsMaxBodyBytes;
};

// True when url parses as a URL (any scheme); scheme is then its scheme in
// lower case.
bool parseUrlScheme(const std::string &url, std::string &scheme);

// Downloads url's body. True with body filled; false with error set to a
// sentence saying what failed (body emptied). Any final HTTP status outside
// 200-299 is a failure. Blocks the calling thread.
bool httpsGet(const std::string &url, std::vector<uint8_t> &body, std::string &error, const HttpsOptions &options = {});

} // namespace norva
