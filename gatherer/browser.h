// The gathering window's browser: loads one page at a time with libcurl on a
// worker thread and reports on the thread that owns it (the main thread) as
// document-complete or navigation-error events. Like a browser that loads no
// images, scripts, frames or plugins, it fetches only the page itself.
#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvo {

// What the browser holds of a page: the complete page after a document-complete
// event, or what had arrived when a load was stopped.
struct BrowserDocument {
  std::string requestedUrl;
  std::string url;      // final address, after redirects
  long status = 0;      // HTTP status of the final response
  std::string charset;  // from the Content-Type header; empty when it names none
  std::string bytes;    // the body as it arrived
  bool complete = false;
};

class Browser : public QObject {
  Q_OBJECT

 public:
  static constexpr size_t kDefaultBodyLimit = 32u << 20;

  explicit Browser(QObject* parent = nullptr);
  ~Browser() override;

  void SetBodyLimit(size_t bytes) { bodyLimit_ = bytes; }

  // Starts loading url, with a POST body and extra headers when body is not
  // empty. A load still in progress is abandoned without an event. Addresses
  // that cannot be loaded end in a NavigateError event, never synchronously.
  void Navigate(const std::string& url, const std::string& postBody = {},
                const std::vector<std::string>& headers = {});
  bool Busy() const { return busy_; }
  // Abandons the load in progress (no event follows); whatever had arrived of
  // it becomes the current document.
  void Stop();

  // Starts loading url (a GET) before it is asked for, on a connection of its
  // own, the way a browser reads ahead; no event follows. A Navigate to the
  // same address takes over what arrived, or the load still under way; a
  // read-ahead that failed is forgotten and the page is loaded afresh, so
  // its failure is seen as any other.
  void Prefetch(const std::string& url);
  // Abandons the read-ahead.
  void DropPrefetch();
  // The read-ahead has arrived or failed, and no Navigate has taken it yet.
  bool PrefetchSettled() const { return aheadState_ == Ahead::kArrived || aheadState_ == Ahead::kFailed; }

  // The current document, or null when none has arrived yet.
  const BrowserDocument* Document() const { return document_ ? &*document_ : nullptr; }
  // Address the browser shows: the page being loaded, or the last one loaded.
  const std::string& LocationUrl() const { return location_; }

  // State shared with the transfer thread (defined in browser.cpp).
  struct Shared;

 signals:
  void DocumentComplete(const std::string& url);
  // statusCode: the HTTP status (400 or more), or libcurl's result code when no
  // usable response came; reason says which in words.
  void NavigateError(const std::string& url, int statusCode, const std::string& reason);

 private:
  struct Job;
  struct Result;
  void Deliver(const std::shared_ptr<Result>& result);
  void AbandonOwnLoad();
  void TakeAhead(uint64_t serial);
  void OnAheadComplete();
  void OnAheadError(const std::string& url, int statusCode, const std::string& reason);

  std::shared_ptr<Shared> shared_;
  std::thread worker_;
  size_t bodyLimit_ = kDefaultBodyLimit;
  uint64_t serial_ = 0;
  bool busy_ = false;
  std::optional<BrowserDocument> document_;
  std::string location_;

  // The read-ahead: its own browser, and what became of its page.
  enum class Ahead { kNone, kLoading, kArrived, kFailed };
  std::unique_ptr<Browser> ahead_;
  std::string aheadUrl_;
  Ahead aheadState_ = Ahead::kNone;
  bool adopted_ = false;      // the current page is the read-ahead still loading
  bool pendingTake_ = false;  // the current page is the read-ahead that arrived
};

}  // namespace orvo
