#include "http_setup.h"

#include <mutex>

#include "orvo_version.h"

namespace orvo {

void HttpGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetUpHttpHandle(CURL* h, char* errorBuffer) {
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  if (errorBuffer) {
    errorBuffer[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  }
}

}  // namespace orvo
