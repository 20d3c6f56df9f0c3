#include "updates/guarded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace orvo::updates {

namespace {

using Clock = std::chrono::steady_clock;

// Waits are cut into slices so that a stopping server is noticed soon.
constexpr int kSliceMs = 100;

// Rounded up: 0 only once `t` has come, so a wait of this long never ends
// before it.
int MsUntil(Clock::time_point t) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(t - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>((left + 999) / 1000, 1 << 30));
}

// 1 when `events` came, 0 on time-out or when the server stops, -1 when the
// connection failed.
int WaitFor(socket_t sock, short events, int ms, const std::atomic<socket_t>& listening) {
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (listening == INVALID_SOCKET) return 0;
    pollfd p{sock, events, 0};
    const int r = ::poll(&p, 1, std::min(kSliceMs, MsUntil(until)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) ? 1 : -1;
    if (MsUntil(until) == 0) return 0;
  }
}

void Address(const sockaddr_storage& addr, std::string* ip, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(addr);
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    *port = ntohs(a.sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
    ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    *port = ntohs(a.sin6_port);
  } else {
    *port = 0;
  }
  *ip = text;
}

std::string PeerAddress(socket_t sock) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  std::string ip;
  int port = 0;
  if (::getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0) Address(addr, &ip, &port);
  return ip;
}

// One connection as the library reads and writes it, with a deadline for
// the request being received: armed when a request is awaited, lifted when
// its answer is written.
class GuardedStream : public httplib::Stream {
 public:
  GuardedStream(socket_t sock, int readTimeoutMs, int writeTimeoutMs, const std::atomic<socket_t>& listening)
      : sock_(sock), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs), listening_(listening) {}

  void Arm(Clock::time_point deadline) {
    deadline_ = deadline;
    armed_ = true;
    expired_ = false;
  }
  bool expired() const { return expired_; }
  bool Buffered() const { return pos_ < len_; }

  bool is_readable() const override {
    if (Buffered()) return true;
    const int ms = ReadWaitMs();
    if (ms > 0 && WaitFor(sock_, POLLIN, ms, listening_) > 0) return true;
    NoteDeadline();
    return false;
  }

  bool is_writable() const override { return WaitFor(sock_, POLLOUT, writeTimeoutMs_, listening_) > 0; }

  ssize_t read(char* ptr, size_t size) override {
    if (!Buffered()) {
      const int ms = ReadWaitMs();
      if (ms <= 0 || WaitFor(sock_, POLLIN, ms, listening_) <= 0) {
        NoteDeadline();
        return -1;
      }
      ssize_t n;
      do n = ::recv(sock_, buf_, sizeof buf_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      pos_ = 0;
      len_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, len_ - pos_);
    std::memcpy(ptr, buf_ + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    // Too late: the library's own "400" for a cut request is not sent, the
    // server says 408 itself.
    NoteDeadline();
    if (expired_) return -1;
    armed_ = false;
    if (!is_writable()) return -1;
    ssize_t n;
    do n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    port = 0;
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) Address(addr, &ip, &port);
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    port = 0;
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) Address(addr, &ip, &port);
  }

  socket_t socket() const override { return sock_; }

 private:
  // Whatever failed, a request whose deadline has passed was too slow.
  void NoteDeadline() const {
    if (armed_ && Clock::now() >= deadline_) expired_ = true;
  }

  // The read time-out, cut short by the request's deadline while it is armed.
  int ReadWaitMs() const {
    if (!armed_) return readTimeoutMs_;
    return std::min(readTimeoutMs_, MsUntil(deadline_));
  }

  socket_t sock_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  const std::atomic<socket_t>& listening_;
  Clock::time_point deadline_{};
  bool armed_ = false;
  mutable bool expired_ = false;
  char buf_[4096];
  size_t pos_ = 0;
  size_t len_ = 0;
};

}  // namespace

GuardedServer::GuardedServer(ConnectionLimits limits, std::function<void(const std::string&)> log)
    : limits_(limits), log_(std::move(log)) {
  const int workers = std::max(1, limits_.workers);
  new_task_queue = [workers] { return new httplib::ThreadPool(static_cast<size_t>(workers)); };
  set_tcp_nodelay(true);
}

int GuardedServer::ConnectionsOf(const std::string& address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = per_client_.find(address);
  return it == per_client_.end() ? 0 : it->second;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  int one = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const std::string peer = PeerAddress(sock);
  bool admitted = false;
  bool tell = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int& open = per_client_[peer];
    if (open < limits_.max_per_client) {
      ++open;
      admitted = true;
    } else if (!refusal_logged_[peer]) {
      refusal_logged_[peer] = tell = true;
    }
  }
  if (admitted) {
    Serve(sock, peer);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--per_client_[peer] <= 0) {
      per_client_.erase(peer);
      refusal_logged_.erase(peer);
    }
  } else {
    if (tell)
      log_(peer + " has " + std::to_string(limits_.max_per_client) +
           " connections open already; further ones are refused until one closes.");
    Refuse(sock, "503 Service Unavailable", "Too many connections from your address; try again shortly.\n");
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return true;
}

void GuardedServer::Serve(socket_t sock, const std::string& peer) {
  const int readMs = static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000);
  const int writeMs = static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000);
  GuardedStream strm(sock, std::max(readMs, 1), std::max(writeMs, 1), svr_sock_);
  const auto timeout = std::chrono::milliseconds(limits_.request_timeout_ms);
  // The first request is due from the moment the connection is open: a
  // client that connects and says nothing is as slow as one that trickles.
  Clock::time_point deadline = Clock::now() + timeout;
  for (size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
    if (left != keep_alive_max_count_) {
      if (!strm.Buffered() && WaitFor(sock, POLLIN, limits_.keep_alive_ms, svr_sock_) <= 0) return;
      deadline = Clock::now() + timeout;
    }
    strm.Arm(deadline);
    bool closed = false;
    const bool ok = process_request(strm, left == 1, closed, nullptr);
    if (strm.expired()) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", limits_.request_timeout_ms / 1000.0);
      log_(peer + " did not send a whole request within " + seconds + " s; the connection was closed.");
      Refuse(sock, "408 Request Timeout", "The request did not arrive in time.\n");
      return;
    }
    if (!ok || closed) return;
  }
}

void GuardedServer::Refuse(socket_t sock, const char* status_line, const char* text) {
  const std::string body = text;
  const std::string answer = std::string("HTTP/1.1 ") + status_line +
                             "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  // Never wait on a client that does not read.
  (void)::send(sock, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  // What the client still sends is read and dropped for a moment: closing
  // with unread data would reset the connection and could take the answer
  // with it.
  ::shutdown(sock, SHUT_WR);
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(200);
  char sink[1024];
  while (WaitFor(sock, POLLIN, MsUntil(until), svr_sock_) > 0) {
    if (::recv(sock, sink, sizeof sink, MSG_DONTWAIT) <= 0) break;
  }
}

}  // namespace orvo::updates
