// The libcurl options every ORVO request shares.
#pragma once

#include <curl/curl.h>

namespace orvo {

// Calls curl_global_init once per process (thread-safe).
void HttpGlobalInit();

// Sets on a fresh (or reset) easy handle: http and https only (also for
// redirects), up to 20 redirects followed, no signals (time-outs work on any
// thread), any content encoding, the one user agent (kUserAgent), and
// `errorBuffer` (CURL_ERROR_SIZE bytes, may be null) for the failure text.
// Time-outs, bodies and callbacks stay with the caller.
void SetUpHttpHandle(CURL* handle, char* errorBuffer);

}  // namespace orvo
