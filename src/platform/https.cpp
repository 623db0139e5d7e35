#include "platform/https.h"

#include <cctype>
#include <curl/curl.h>

namespace norva {
namespace {

// curl_global_init once per process, before the first handle; a function
// local static is initialised exactly once however many threads ask.
bool curlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

struct Download {
  CURL *curl = nullptr;
  std::vector<uint8_t> *body = nullptr;
  size_t maxBytes = 0;
  bool tooLarge = false;
};

size_t keepBytes(char *data, size_t size, size_t count, void *user) {
  Download &download = *static_cast<Download *>(user);
  const size_t bytes = size * count;
  if (bytes > download.maxBytes - download.body->size()) {
    download.tooLarge = true;
    return 0; // ends the transfer with a write error
  }
  if (download.body->empty()) {
    curl_off_t announced = -1;
    curl_easy_getinfo(download.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > 0 && uint64_t(announced) <= download.maxBytes) download.body->reserve(size_t(announced));
  }
  download.body->insert(download.body->end(), reinterpret_cast<uint8_t *>(data),
                        reinterpret_cast<uint8_t *>(data) + bytes);
  return bytes;
}

std::string sizeText(size_t bytes) {
  return bytes % (size_t(1) << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

} // namespace

bool parseUrlScheme(const std::string &url, std::string &scheme) {
  scheme.clear();
  CURLU *parsed = curl_url();
  if (parsed == nullptr) return false;
  char *part = nullptr;
  const bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
                  curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK && part != nullptr;
  if (ok) {
    for (const char *c = part; *c != '\0'; ++c) scheme.push_back(char(std::tolower(static_cast<unsigned char>(*c))));
  }
  curl_free(part);
  curl_url_cleanup(parsed);
  return ok;
}

bool httpsGet(const std::string &url, std::vector<uint8_t> &body, std::string &error, const HttpsOptions &options) {
  body.clear();
  error.clear();
  if (!curlReady()) {
    error = "the HTTPS library could not be initialised";
    return false;
  }
  CURL *curl = curl_easy_init();
  if (curl == nullptr) {
    error = "the HTTPS library could not start a request";
    return false;
  }
  Download download{curl, &body, options.maxBodyBytes, false};
  char detail[CURL_ERROR_SIZE] = {};
  // The settings that keep the download on verified HTTPS must all take;
  // a library that refuses one is not used.
  const bool secured =
      curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2)) == CURLE_OK &&
      (options.caFile.empty() || curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str()) == CURLE_OK);
  if (!secured) {
    curl_easy_cleanup(curl);
    error = "the HTTPS library refused a security setting";
    return false;
  }
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kHttpsMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kHttpsConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kHttpsIdleTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kHttpsTransferTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBodyBytes));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // time-outs without SIGALRM: safe in a host's threads
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);

  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  long redirects = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
  curl_easy_cleanup(curl);

  if (download.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    error = "the download is larger than " + sizeText(options.maxBodyBytes);
  } else if (result == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0) {
    error = "the download was redirected to an address that is not https";
  } else if (result != CURLE_OK) {
    error = std::string("the download failed: ") + (detail[0] != '\0' ? detail : curl_easy_strerror(result));
  } else if (status < 200 || status >= 300) {
    error = "the server answered with HTTP status " + std::to_string(status);
  }
  if (error.empty()) return true;
  body.clear();
  body.shrink_to_fit();
  return false;
}

} // namespace norva
