#include "http_client.h"

#include "http_setup.h"

#include <cctype>

namespace orvo {

namespace {

struct Transfer {
  const HttpSession::Sink* sink;
  CURL* curl;
  size_t limit;
  size_t received = 0;
  bool limited = false;
  bool stopped = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  size_t take = n;
  if (t->received + n > t->limit) {
    take = t->limit - t->received;
    t->limited = true;
  }
  long status = 0;
  curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
  if (take > 0 && !(*t->sink)(std::string_view(data, take), status)) {
    t->stopped = true;
    return 0;
  }
  t->received += take;
  return t->limited ? 0 : n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(user);
  std::string_view line(data, size * count);
  // Each response of a redirect chain starts anew with its status line.
  if (line.rfind("HTTP/", 0) == 0) {
    headers->clear();
    return size * count;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return size * count;
  std::string name(line.substr(0, colon));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
    value.remove_suffix(1);
  headers->emplace_back(std::move(name), std::string(value));
  return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel->load() ? 1 : 0;
}

}  // namespace

HttpSession::HttpSession() {
  HttpGlobalInit();
  curl_ = curl_easy_init();
}

HttpSession::~HttpSession() { curl_easy_cleanup(curl_); }

HttpResponse HttpSession::Perform(const std::string& url, const std::string_view* postBody,
                                  const std::vector<std::string>& headers, const Sink& sink) {
  HttpResponse r;
  if (!curl_) {
    r.code = CURLE_FAILED_INIT;
    r.error = curl_easy_strerror(r.code);
    return r;
  }
  curl_easy_reset(curl_);
  char errbuf[CURL_ERROR_SIZE] = {0};
  Transfer t{&sink, curl_, bodyLimit_};
  SetUpHttpHandle(curl_, errbuf);
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, timeoutSeconds_);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &r.headers);
  // A body announced larger than the limit is refused before it comes.
  if (refuseOversize_) curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bodyLimit_));
  if (cancel_) {
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel_));
  }
  curl_slist* list = nullptr;
  for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
  if (list) curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, list);
  if (postBody) {
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
    curl_easy_setopt(curl_, CURLOPT_COPYPOSTFIELDS, postBody->data());
  }
  CURLcode rc = curl_easy_perform(curl_);
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &r.status);
  char* effective = nullptr;
  if (curl_easy_getinfo(curl_, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) r.finalUrl = effective;
  curl_slist_free_all(list);
  if (rc == CURLE_FILESIZE_EXCEEDED) t.limited = true;
  r.limited = t.limited;
  // Stopping on purpose (limit or sink) is not a transport failure.
  if ((rc == CURLE_WRITE_ERROR && (t.limited || t.stopped)) || rc == CURLE_FILESIZE_EXCEEDED) rc = CURLE_OK;
  r.code = rc;
  if (rc != CURLE_OK) r.error = errbuf[0] ? errbuf : curl_easy_strerror(rc);
  return r;
}

HttpResponse HttpSession::Get(const std::string& url, const Sink& sink) {
  return Perform(url, nullptr, {}, sink);
}

HttpResponse HttpSession::Post(const std::string& url, std::string_view body,
                               const std::vector<std::string>& headers, const Sink& sink) {
  return Perform(url, &body, headers, sink);
}

HttpResponse HttpSession::Get(const std::string& url, std::string* out) {
  out->clear();
  return Get(url, [out](std::string_view piece, long) {
    out->append(piece);
    return true;
  });
}

HttpResponse HttpSession::Get(const std::string& url, const std::vector<std::string>& headers, std::string* out) {
  out->clear();
  return Perform(url, nullptr, headers, [out](std::string_view piece, long) {
    out->append(piece);
    return true;
  });
}

std::string HttpResponse::Header(std::string_view lowerName) const {
  for (const auto& [name, value] : headers)
    if (name == lowerName) return value;
  return {};
}

HttpResponse HttpSession::Post(const std::string& url, std::string_view body,
                               const std::vector<std::string>& headers, std::string* out) {
  out->clear();
  return Post(url, body, headers, [out](std::string_view piece, long) {
    out->append(piece);
    return true;
  });
}

std::string HttpOrigin(const std::string& url) {
  HttpGlobalInit();
  CURLU* u = curl_url();
  std::string origin;
  char* scheme = nullptr;
  char* host = nullptr;
  char* port = nullptr;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
      curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
    std::string s = scheme;
    if (s == "http" || s == "https") origin = s + "://" + host + ":" + port;
  }
  curl_free(scheme);
  curl_free(host);
  curl_free(port);
  curl_url_cleanup(u);
  return origin;
}

}  // namespace orvo
