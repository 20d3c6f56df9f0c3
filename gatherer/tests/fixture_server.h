// A small HTTP server on 127.0.0.1 for the engine's tests: news sites, the
// updates server and slow or broken pages, served from its own thread.
#pragma once

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::testing {

class FixtureServer {
 public:
  FixtureServer();
  ~FixtureServer();
  FixtureServer(const FixtureServer&) = delete;
  FixtureServer& operator=(const FixtureServer&) = delete;

  httplib::Server& server() { return server_; }
  // Starts listening on an ephemeral port; call after adding the handlers.
  void Start();
  // Answers uncompressed on kept-alive connections, so a benchmark measures
  // the engine rather than the fixture's compression and handshakes.
  void ServePlain();
  int port() const { return port_; }
  std::string Url(const std::string& path) const;

  // Every request path seen, in order ("GET /x", "POST /y").
  std::vector<std::string> Requests();
  int CountRequests(const std::string& methodAndPath);
  // Lets handlers that wait (never-answering pages) end when the test ends.
  bool stopping() const { return stopping_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> plain_{false};
};

}  // namespace orvo::testing
