#include "browser.h"

#include <curl/curl.h>

#include <QMetaObject>

#include <strings.h>

#include <cctype>
#include <cstring>

#include "http_client.h"
#include "http_setup.h"

namespace orvo {

struct Browser::Job {
  uint64_t serial = 0;
  std::string url;
  std::string body;
  bool post = false;
  std::vector<std::string> headers;
  size_t limit = kDefaultBodyLimit;
};

struct Browser::Result {
  uint64_t serial = 0;
  CURLcode code = CURLE_OK;
  std::string error;
  bool tooLarge = false;
  BrowserDocument doc;
};

// State the worker and the owning thread share, under mutex.
struct Browser::Shared {
  std::mutex mutex;
  CURLM* multi = nullptr;
  bool quit = false;
  std::optional<Job> pending;    // next load to start
  uint64_t cancel = 0;           // serial of a load to abandon
  uint64_t activeSerial = 0;     // load in progress on the worker, 0 for none
  BrowserDocument partial;       // what has arrived of the active load
  bool tooLarge = false;
  size_t limit = kDefaultBodyLimit;
};

namespace {

struct Active {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string body;
  char error[CURL_ERROR_SIZE] = {0};
};

std::string CharsetOf(std::string_view contentType) {
  // Content-Type: text/html; charset="windows-1251"
  std::string lower(contentType);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t p = lower.find("charset=");
  if (p == std::string::npos) return {};
  std::string value(contentType.substr(p + 8));
  size_t end = value.find_first_of(";, \t\r\n");
  if (end != std::string::npos) value.resize(end);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) value = value.substr(1, value.size() - 2);
  return value;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* s = static_cast<Browser::Shared*>(user);
  size_t n = size * count;
  std::lock_guard<std::mutex> lock(s->mutex);
  if (s->partial.bytes.size() + n > s->limit) {
    s->tooLarge = true;
    return 0;
  }
  s->partial.bytes.append(data, n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* s = static_cast<Browser::Shared*>(user);
  size_t n = size * count;
  std::string_view line(data, n);
  std::lock_guard<std::mutex> lock(s->mutex);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new response (after a redirect or a 100 Continue) starts afresh.
    s->partial.charset.clear();
    size_t sp = line.find(' ');
    s->partial.status = sp == std::string_view::npos ? 0 : std::atol(std::string(line.substr(sp + 1, 3)).c_str());
  } else if (line.size() > 13 && strncasecmp(line.data(), "content-type:", 13) == 0) {
    s->partial.charset = CharsetOf(line.substr(13));
  }
  return n;
}

}  // namespace

Browser::Browser(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
  HttpSession warmUp;  // makes sure libcurl is initialised before the worker starts
  shared_->multi = curl_multi_init();
  worker_ = std::thread([this, s = shared_] {
    Active active;
    auto finishActive = [&] {
      if (active.easy) {
        curl_multi_remove_handle(s->multi, active.easy);
        curl_easy_cleanup(active.easy);
        curl_slist_free_all(active.headers);
      }
      active = Active{};
    };
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (s->quit) break;
        if (s->cancel != 0 && s->cancel == s->activeSerial) {
          finishActive();
          s->activeSerial = 0;
        }
        s->cancel = 0;
        if (s->pending) {
          finishActive();
          Job job = std::move(*s->pending);
          s->pending.reset();
          s->activeSerial = job.serial;
          s->partial = BrowserDocument{};
          s->partial.requestedUrl = job.url;
          s->tooLarge = false;
          s->limit = job.limit;
          active.easy = curl_easy_init();
          active.body = std::move(job.body);
          CURL* e = active.easy;
          SetUpHttpHandle(e, active.error);
          curl_easy_setopt(e, CURLOPT_URL, job.url.c_str());
          curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
          curl_easy_setopt(e, CURLOPT_WRITEDATA, s.get());
          curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
          curl_easy_setopt(e, CURLOPT_HEADERDATA, s.get());
          for (const auto& h : job.headers) active.headers = curl_slist_append(active.headers, h.c_str());
          if (active.headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, active.headers);
          if (job.post) {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, active.body.data());
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(active.body.size()));
          }
          curl_multi_add_handle(s->multi, e);
        }
      }
      if (active.easy) {
        int running = 0;
        curl_multi_perform(s->multi, &running);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(s->multi, &left)) {
          if (msg->msg != CURLMSG_DONE || msg->easy_handle != active.easy) continue;
          auto r = std::make_shared<Result>();
          {
            std::lock_guard<std::mutex> lock(s->mutex);
            r->serial = s->activeSerial;
            r->code = msg->data.result;
            r->tooLarge = s->tooLarge;
            r->doc = s->partial;  // a copy: Stop() may still want it
            s->activeSerial = 0;
          }
          char* url = nullptr;
          curl_easy_getinfo(active.easy, CURLINFO_EFFECTIVE_URL, &url);
          r->doc.url = url ? url : r->doc.requestedUrl;
          curl_easy_getinfo(active.easy, CURLINFO_RESPONSE_CODE, &r->doc.status);
          r->doc.complete = r->code == CURLE_OK;
          r->error = active.error[0] ? active.error : curl_easy_strerror(r->code);
          finishActive();
          QMetaObject::invokeMethod(this, [this, r] { Deliver(r); }, Qt::QueuedConnection);
          break;
        }
      }
      curl_multi_poll(s->multi, nullptr, 0, 1000, nullptr);
    }
    finishActive();
  });
}

Browser::~Browser() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->quit = true;
  }
  curl_multi_wakeup(shared_->multi);
  worker_.join();
  curl_multi_cleanup(shared_->multi);
}

void Browser::Navigate(const std::string& url, const std::string& postBody,
                       const std::vector<std::string>& headers) {
  const bool readAhead = ahead_ && !adopted_ && postBody.empty() && aheadUrl_ == url &&
                         (aheadState_ == Ahead::kLoading || aheadState_ == Ahead::kArrived);
  if (!readAhead) DropPrefetch();
  if (readAhead) {
    AbandonOwnLoad();
    ++serial_;
    busy_ = true;
    location_ = url;
    if (aheadState_ == Ahead::kArrived) {
      // Delivered from the event loop, as a load would be.
      aheadState_ = Ahead::kNone;
      pendingTake_ = true;
      QMetaObject::invokeMethod(this, [this, serial = serial_] { TakeAhead(serial); }, Qt::QueuedConnection);
    } else {
      adopted_ = true;
    }
    return;
  }
  Job job;
  job.serial = ++serial_;
  job.url = url;
  job.post = !postBody.empty();
  job.body = postBody;
  job.headers = headers;
  job.limit = bodyLimit_;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->pending = std::move(job);
  }
  curl_multi_wakeup(shared_->multi);
  busy_ = true;
  location_ = url;
}

void Browser::Stop() {
  if (!busy_) return;
  if (adopted_ || pendingTake_) {
    if (adopted_) ahead_->Stop();
    if (ahead_->document_ && ahead_->document_->requestedUrl == location_) {
      document_ = std::move(*ahead_->document_);
      ahead_->document_.reset();
    }
    adopted_ = pendingTake_ = false;
    aheadState_ = Ahead::kNone;
    ++serial_;
    busy_ = false;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->pending.reset();
    BrowserDocument doc = shared_->partial;
    if (shared_->partial.requestedUrl == location_ && doc.status != 0) {
      doc.url = doc.requestedUrl;
      doc.complete = false;
      document_ = std::move(doc);
    }
    shared_->cancel = shared_->activeSerial;
  }
  ++serial_;  // whatever the worker still reports of the old load is stale
  curl_multi_wakeup(shared_->multi);
  busy_ = false;
}

void Browser::AbandonOwnLoad() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->pending.reset();
    shared_->cancel = shared_->activeSerial;
  }
  curl_multi_wakeup(shared_->multi);
}

void Browser::Prefetch(const std::string& url) {
  if (adopted_ || pendingTake_) return;  // the read-ahead's connection serves the current page
  if (!ahead_) {
    ahead_ = std::make_unique<Browser>();
    connect(ahead_.get(), &Browser::DocumentComplete, this, [this](const std::string&) { OnAheadComplete(); });
    connect(ahead_.get(), &Browser::NavigateError, this,
            [this](const std::string& url, int code, const std::string& reason) { OnAheadError(url, code, reason); });
  }
  ahead_->SetBodyLimit(bodyLimit_);
  aheadUrl_ = url;
  aheadState_ = Ahead::kLoading;
  ahead_->Navigate(url);
}

void Browser::DropPrefetch() {
  if (!ahead_) return;
  if (adopted_ || pendingTake_) {
    ++serial_;
    busy_ = false;
  }
  ahead_->Stop();
  aheadState_ = Ahead::kNone;
  adopted_ = pendingTake_ = false;
}

void Browser::TakeAhead(uint64_t serial) {
  if (serial != serial_ || !pendingTake_) return;
  pendingTake_ = false;
  busy_ = false;
  document_ = std::move(*ahead_->document_);
  ahead_->document_.reset();
  location_ = document_->url;
  emit DocumentComplete(document_->url);
}

void Browser::OnAheadComplete() {
  if (!adopted_) {
    if (aheadState_ == Ahead::kLoading) aheadState_ = Ahead::kArrived;
    return;
  }
  adopted_ = false;
  aheadState_ = Ahead::kNone;
  busy_ = false;
  document_ = std::move(*ahead_->document_);
  ahead_->document_.reset();
  location_ = document_->url;
  emit DocumentComplete(document_->url);
}

void Browser::OnAheadError(const std::string& url, int statusCode, const std::string& reason) {
  if (!adopted_) {
    if (aheadState_ == Ahead::kLoading) aheadState_ = Ahead::kFailed;
    return;
  }
  adopted_ = false;
  aheadState_ = Ahead::kNone;
  busy_ = false;
  emit NavigateError(url, statusCode, reason);
}

void Browser::Deliver(const std::shared_ptr<Result>& r) {
  if (r->serial != serial_) return;
  busy_ = false;
  const std::string url = r->doc.requestedUrl;
  if (r->tooLarge) {
    emit NavigateError(url, CURLE_FILESIZE_EXCEEDED,
                       "page larger than " + std::to_string(bodyLimit_ >> 20) + " MiB");
    return;
  }
  if (r->code != CURLE_OK) {
    emit NavigateError(url, r->code, r->error);
    return;
  }
  if (r->doc.status >= 400) {
    emit NavigateError(url, static_cast<int>(r->doc.status), "HTTP status " + std::to_string(r->doc.status));
    return;
  }
  location_ = r->doc.url;
  document_ = std::move(r->doc);
  emit DocumentComplete(document_->url);
}

}  // namespace orvo
