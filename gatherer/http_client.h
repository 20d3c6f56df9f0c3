// Blocking HTTP requests for the engine's own exchanges: image downloads and
// the updates server's mask fetch and end-of-update call. They run on the
// calling thread; every request has a time-out so nothing waits for ever.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvo {

struct HttpResponse {
  CURLcode code = CURLE_OK;  // transport result; CURLE_OK when a response came
  long status = 0;           // HTTP status, 0 when no response arrived
  std::string error;         // libcurl's message when code is not CURLE_OK
  bool limited = false;      // the body passed the size limit and was cut there
  std::string finalUrl;      // after redirects
  // The headers of the last response (after redirects), names lower-case.
  std::vector<std::pair<std::string, std::string>> headers;
  bool ok() const { return code == CURLE_OK; }
  // The value of a header; empty when it did not come.
  std::string Header(std::string_view lowerName) const;
};

// One libcurl easy handle, reused for every request so that connections to
// the same server stay open between requests.
class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Whole-request limit; 0 means none (used only by tests).
  void SetTimeoutSeconds(long seconds) { timeoutSeconds_ = seconds; }
  long timeoutSeconds() const { return timeoutSeconds_; }
  // While *cancel is true every transfer ends at once (CURLE_ABORTED_BY_CALLBACK).
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // Bodies past this many bytes stop the transfer (HttpResponse::limited).
  void SetBodyLimit(size_t bytes) { bodyLimit_ = bytes; }
  // With this on, a response that announces a body past the limit is refused
  // before it comes (HttpResponse::limited, nothing delivered); otherwise it
  // is cut at the limit.
  void SetRefuseOversize(bool on) { refuseOversize_ = on; }

  // Each piece of the body goes to sink, whatever the status; sink returns
  // false to stop the transfer.
  using Sink = std::function<bool(std::string_view piece, long status)>;

  HttpResponse Get(const std::string& url, const Sink& sink);
  HttpResponse Post(const std::string& url, std::string_view body,
                    const std::vector<std::string>& headers, const Sink& sink);

  // The same, keeping the body (at most the body limit) in *out.
  HttpResponse Get(const std::string& url, std::string* out);
  // A GET with request headers ("If-None-Match: ...").
  HttpResponse Get(const std::string& url, const std::vector<std::string>& headers, std::string* out);
  HttpResponse Post(const std::string& url, std::string_view body,
                    const std::vector<std::string>& headers, std::string* out);

 private:
  HttpResponse Perform(const std::string& url, const std::string_view* postBody,
                       const std::vector<std::string>& headers, const Sink& sink);
  CURL* curl_;
  long timeoutSeconds_ = 300;
  size_t bodyLimit_ = 32u << 20;
  const std::atomic<bool>* cancel_ = nullptr;
  bool refuseOversize_ = false;
};

// Scheme, host and port of an absolute http(s) address ("http://h:81/x" gives
// "http://h:81"); empty when the address cannot be split.
std::string HttpOrigin(const std::string& url);

}  // namespace orvo
