#include "updates/server.h"

#include <httplib.h>

#include <chrono>

#include "text.h"
#include "updates/reports.h"

namespace orvo::updates {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPlain = "text/plain; charset=utf-8";

// Paths are matched at any depth, so a catalogue published under a folder
// ("/orvo/catalogue.asp") finds its mask fetch beside it, and the doubled
// slash some clients produce when they cut the address ("//getmask.asp")
// still lands here.
constexpr const char* kCataloguePath = R"(/|/(.*/)?catalogue\.asp)";
constexpr const char* kMaskPath = R"(/(.*/)?getmask\.asp)";
constexpr const char* kEndPath = R"(/(.*/)?end\.asp)";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string UrlDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Summary(const Catalogue& c) {
  return std::to_string(c.sites.size()) + (c.sites.size() == 1 ? " site, " : " sites, ") +
         std::to_string(c.PairCount()) + (c.PairCount() == 1 ? " pair, " : " pairs, ") +
         std::to_string(c.masks.size()) + (c.masks.size() == 1 ? " mask" : " masks");
}

std::string RequestedMask(const httplib::Request& req) {
  std::string id = FormValue(req.body, "_mask");
  if (id.empty() && req.has_param("_mask")) id = req.get_param_value("_mask");
  return id;
}

}  // namespace

std::string FormValue(const std::string& body, const std::string& name) {
  std::string text = body.substr(0, body.find('\0'));
  size_t start = 0;
  while (start <= text.size()) {
    size_t amp = text.find('&', start);
    std::string field = text.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    size_t eq = field.find('=');
    if (UrlDecode(field.substr(0, eq)) == name)
      return eq == std::string::npos ? std::string() : UrlDecode(field.substr(eq + 1));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return {};
}

UpdatesServer::UpdatesServer(ServerOptions options, LogSink log)
    : options_(std::move(options)), log_(std::move(log)), http_(std::make_unique<httplib::Server>()) {
  Install();
}

UpdatesServer::~UpdatesServer() {
  Stop();
  if (poller_.joinable()) poller_.join();
}

bool UpdatesServer::Load(std::string* error) {
  std::lock_guard<std::mutex> lock(reload_mutex_);
  seen_fingerprint_ = FolderFingerprint(options_.catalogue_folder);
  LoadResult r = LoadCatalogue(options_.catalogue_folder);
  for (const auto& w : r.warnings) log_("Note: " + w);
  if (!r.catalogue) {
    *error = r.error;
    return false;
  }
  auto snap = std::make_shared<Snapshot>();
  snap->page = RenderCataloguePage(*r.catalogue);
  snap->catalogue = std::move(r.catalogue);
  snap->loaded_at = std::time(nullptr);
  log_("Catalogue loaded from " + options_.catalogue_folder + ": " + Summary(*snap->catalogue) + ".");
  std::lock_guard<std::mutex> hold(snapshot_mutex_);
  snapshot_ = std::move(snap);
  return true;
}

void UpdatesServer::CheckForChanges() {
  std::lock_guard<std::mutex> lock(reload_mutex_);
  std::string fingerprint = FolderFingerprint(options_.catalogue_folder);
  if (fingerprint == seen_fingerprint_) return;
  seen_fingerprint_ = fingerprint;
  LoadResult r = LoadCatalogue(options_.catalogue_folder);
  for (const auto& w : r.warnings) log_("Note: " + w);
  if (!r.catalogue) {
    auto current = Current();
    log_("Catalogue not reloaded: " + r.error + ". Still serving the catalogue loaded at " +
         FormatDbTime(current ? current->loaded_at : 0) + "; fix the file and save it again.");
    return;
  }
  auto snap = std::make_shared<Snapshot>();
  snap->page = RenderCataloguePage(*r.catalogue);
  snap->catalogue = std::move(r.catalogue);
  snap->loaded_at = std::time(nullptr);
  log_("Catalogue reloaded: " + Summary(*snap->catalogue) + ".");
  std::lock_guard<std::mutex> hold(snapshot_mutex_);
  snapshot_ = std::move(snap);
}

std::shared_ptr<const Snapshot> UpdatesServer::Current() const {
  std::lock_guard<std::mutex> hold(snapshot_mutex_);
  return snapshot_;
}

void UpdatesServer::Install() {
  auto& http = *http_;
  // Masks are small and clients send a version or a mask name: nothing
  // larger has any business here.
  http.set_payload_max_length(64 * 1024);
  http.set_read_timeout(30);
  http.set_write_timeout(30);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // server share the port and take half of the requests.
  http.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  auto catalogue = [this](const httplib::Request&, httplib::Response& res) {
    CheckForChanges();
    auto snap = Current();
    if (!snap) {
      res.status = 503;
      res.set_content("No catalogue is loaded yet.\n", kPlain);
      return;
    }
    res.set_content(snap->page, kHtml);
  };
  http.Get(kCataloguePath, catalogue);
  http.Post(kCataloguePath, catalogue);

  auto mask = [this](const httplib::Request& req, httplib::Response& res) {
    CheckForChanges();
    auto snap = Current();
    std::string id = RequestedMask(req);
    auto it = snap ? snap->catalogue->masks.find(id) : decltype(snap->catalogue->masks.end()){};
    if (!snap || it == snap->catalogue->masks.end()) {
      res.status = 404;
      res.set_content("No mask named \"" + id + "\" in this catalogue; ask for a name the catalogue page lists.\n",
                      kPlain);
      return;
    }
    res.set_content(ExpandMask(it->second, Origin(req.get_header_value("Host"))), kHtml);
  };
  http.Get(kMaskPath, mask);
  http.Post(kMaskPath, mask);

  auto end = [](const httplib::Request&, httplib::Response& res) { res.set_content("OK\n", kPlain); };
  http.Get(kEndPath, end);
  http.Post(kEndPath, end);
  InstallReportPages(http, std::make_shared<ReportBook>(), log_);

  http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    std::string line = req.remote_addr + " " + req.method + " " + req.path + " " + std::to_string(res.status) + " " +
                       std::to_string(res.body.size()) + " bytes";
    static const std::regex mask_path(kMaskPath), catalogue_path(kCataloguePath), end_path(kEndPath);
    if (std::regex_match(req.path, mask_path)) {
      line += ", mask \"" + RequestedMask(req) + "\"";
    } else if (std::regex_match(req.path, catalogue_path)) {
      std::string version = FormValue(req.body, "_Ver");
      if (!version.empty()) line += ", client version " + version;
    } else if (std::regex_match(req.path, end_path)) {
      line += ", update finished";
    }
    log_(line);
  });

  if (!options_.static_folder.empty()) {
    // Static pages declare their own charset (a META in each page); these
    // types only keep browsers and clients from guessing.
    http.set_file_extension_and_mimetype_mapping("html", "text/html");
    http.set_file_extension_and_mimetype_mapping("htm", "text/html");
  }
}

int UpdatesServer::Bind(std::string* error) {
  if (!options_.static_folder.empty() && !http_->set_mount_point("/", options_.static_folder)) {
    *error = "the static folder " + options_.static_folder + " does not exist or is not a folder";
    return -1;
  }
  int port = options_.port;
  bool ok;
  if (port == 0) {
    port = http_->bind_to_any_port(options_.host);
    ok = port > 0;
  } else {
    ok = http_->bind_to_port(options_.host, port);
  }
  if (ok) bound_port_ = port;
  if (!ok) {
    *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
             " (the port is in use, or the address is not one of this machine's); choose another with --port";
    return -1;
  }
  return port;
}

std::string UpdatesServer::Origin(const std::string& host_header) const {
  // The Host header goes into mask text: take it only when it is a plain
  // host name or address with an optional port.
  bool plain = !host_header.empty() && host_header.size() <= 80;
  for (char c : host_header) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == ':' || c == '[' || c == ']';
    if (!ok) plain = false;
  }
  if (plain) return "http://" + host_header;
  std::string host = options_.host == "0.0.0.0" || options_.host == "::" ? "127.0.0.1" : options_.host;
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(bound_port_);
}

bool UpdatesServer::Serve() {
  {
    std::lock_guard<std::mutex> lock(poll_mutex_);
    if (stopping_) return true;
  }
  poller_ = std::thread([this] { Poll(); });
  bool ok = http_->listen_after_bind();
  {
    std::lock_guard<std::mutex> lock(poll_mutex_);
    stopping_ = true;
  }
  poll_wake_.notify_all();
  poller_.join();
  return ok;
}

void UpdatesServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(poll_mutex_);
    stopping_ = true;
  }
  poll_wake_.notify_all();
  http_->stop();
}

void UpdatesServer::Poll() {
  std::unique_lock<std::mutex> lock(poll_mutex_);
  while (!stopping_) {
    poll_wake_.wait_for(lock, std::chrono::seconds(options_.poll_seconds), [this] { return stopping_; });
    if (stopping_) break;
    lock.unlock();
    CheckForChanges();
    lock.lock();
  }
}

}  // namespace orvo::updates
