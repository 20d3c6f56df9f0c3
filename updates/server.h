// The updates server: publishes a catalogue folder over HTTP as the
// catalogue page, the mask fetch ("getmask.asp") and the end of an update
// ("end.asp"), and optionally serves a folder of static files beside it.
#pragma once

#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "updates/catalogue.h"

namespace httplib {
class Server;
}

namespace orvo::updates {

inline constexpr int kDefaultPort = 8642;

// What one connection may take of the server (see guarded_server.h).
struct ConnectionLimits {
  int request_timeout_ms = 10000;  // to receive one whole request
  int keep_alive_ms = 5000;        // idle wait for the next request on a connection
  int max_per_client = 8;          // connections of one client address at once
  int workers = 48;                // connections served at once
};

struct ServerOptions {
  std::string catalogue_folder;
  std::string static_folder;  // empty: none
  std::string host = "127.0.0.1";
  int port = kDefaultPort;  // 0: any free port
  int poll_seconds = 2;     // how often the folder is looked at between requests
  ConnectionLimits limits;
};

// One line of the server's log, without time stamp or line end.
using LogSink = std::function<void(const std::string& line)>;

// What is being served: a valid catalogue and its rendered page.
struct Snapshot {
  std::shared_ptr<const Catalogue> catalogue;
  std::string page;
  std::time_t loaded_at = 0;
};

// The value of one field of a form body ("a=1&b=2", as sent by clients that
// end the body with a NUL byte); empty when absent.
std::string FormValue(const std::string& body, const std::string& name);

class UpdatesServer {
 public:
  UpdatesServer(ServerOptions options, LogSink log);
  ~UpdatesServer();
  UpdatesServer(const UpdatesServer&) = delete;
  UpdatesServer& operator=(const UpdatesServer&) = delete;

  // Loads the catalogue folder for the first time; false with the message
  // (naming the file at fault) when it is not valid.
  bool Load(std::string* error);
  // Binds the listening socket; the port, or -1 with a message.
  int Bind(std::string* error);
  // Serves until Stop(); false when the server could not run.
  bool Serve();
  // Safe from any thread and from a signal-handling thread.
  void Stop();

  // Reads the folder again when it changed since the last look. A folder
  // that is not valid is reported once per change and the last good
  // catalogue stays in service.
  void CheckForChanges();
  std::shared_ptr<const Snapshot> Current() const;

 private:
  void Install();
  void Poll();

  // "http://host:port" as the client addressed the server.
  std::string Origin(const std::string& host_header) const;

  ServerOptions options_;
  int bound_port_ = 0;
  LogSink log_;
  std::unique_ptr<httplib::Server> http_;

  mutable std::mutex snapshot_mutex_;
  std::shared_ptr<const Snapshot> snapshot_;

  std::mutex reload_mutex_;     // one reload at a time
  std::string seen_fingerprint_;  // of the last folder state looked at, good or not

  std::mutex poll_mutex_;
  std::condition_variable poll_wake_;
  bool stopping_ = false;
  std::thread poller_;
};

}  // namespace orvo::updates
