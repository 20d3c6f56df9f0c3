// The HTTP server of orvo-updates with the limits a server on a network needs.
//
// The library serves each connection on one thread of a fixed pool and waits
// on every read only for its read time-out, which each arriving byte restarts:
// a few clients that send one header line a second hold every thread for ever
// and nobody else is answered. This server answers every connection itself:
// - a request (its line, headers and body) must arrive within a time bound
//   from the moment the connection is opened or the previous answer went out;
//   a client that is slower gets "408 Request Timeout" and is closed;
// - one client address holds at most so many connections at once; the next
//   gets "503 Service Unavailable" at once and is closed;
// - answers are sent without delay (TCP_NODELAY): a header and its body go
//   out as two writes, and Nagle's algorithm would hold the second until the
//   client's delayed acknowledgement, 40 ms per request.
#pragma once

#include <httplib.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "updates/server.h"

namespace orvo::updates {

class GuardedServer : public httplib::Server {
 public:
  GuardedServer(ConnectionLimits limits, std::function<void(const std::string&)> log);

  // Connections open now from `address` (tests, status).
  int ConnectionsOf(const std::string& address) const;

 private:
  bool process_and_close_socket(socket_t sock) override;
  // Serves the requests of one accepted connection until it closes.
  void Serve(socket_t sock, const std::string& peer);
  // A whole answer on a connection that is then closed.
  void Refuse(socket_t sock, const char* status_line, const char* text);

  ConnectionLimits limits_;
  std::function<void(const std::string&)> log_;
  mutable std::mutex mutex_;
  std::map<std::string, int> per_client_;
  std::map<std::string, bool> refusal_logged_;  // until the client's count falls to 0
};

}  // namespace orvo::updates
