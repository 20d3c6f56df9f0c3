// The libcurl options every ORVO request shares.
#pragma once

#include <curl/curl.h>

#include <string>

namespace orvo {

// The proxy of the settings (section System: UseProxy, ProxyAddress,
// ProxyPort). Off, libcurl takes the system's proxy variables (http_proxy,
// https_proxy, no_proxy) as it does by default.
struct ProxySetting {
  bool on = false;
  std::string address;  // host, or scheme://host
  long port = 0;        // 0: the address's own port or libcurl's default
  std::string problem;  // why a setting was not taken, for the log
};
ProxySetting ReadProxySetting();

// Calls curl_global_init once per process (thread-safe).
void HttpGlobalInit();

// Sets on a fresh (or reset) easy handle: http and https only (also for
// redirects), up to 20 redirects followed, no signals (time-outs work on any
// thread), any content encoding, the one user agent (kUserAgent), and
// `errorBuffer` (CURL_ERROR_SIZE bytes, may be null) for the failure text,
// and the proxy of the settings when it is switched on.
// Time-outs, bodies and callbacks stay with the caller.
void SetUpHttpHandle(CURL* handle, char* errorBuffer);

}  // namespace orvo
