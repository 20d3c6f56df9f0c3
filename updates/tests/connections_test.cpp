// The updates server under clients that are slow, greedy or many, over real
// TCP. Clients bind source addresses of the loopback network (127.0.0.x), so
// one test plays several machines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "catalogue_fixture.h"
#include "updates/server.h"

namespace orvo::updates {
namespace {

using testing::CatalogueFolder;
using Clock = std::chrono::steady_clock;

class Server {
 public:
  explicit Server(ConnectionLimits limits) {
    folder_.WriteDefault();
    ServerOptions options;
    options.catalogue_folder = folder_.path();
    options.port = 0;
    options.poll_seconds = 3600;
    options.limits = limits;
    server_ = std::make_unique<UpdatesServer>(options, [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_ += line + "\n";
    });
    std::string error;
    if (!server_->Load(&error)) return;
    port_ = server_->Bind(&error);
    if (port_ > 0) thread_ = std::thread([this] { server_->Serve(); });
  }
  ~Server() {
    server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  std::string Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

 private:
  CatalogueFolder folder_;
  std::unique_ptr<UpdatesServer> server_;
  int port_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::string log_;
};

// One TCP connection from a chosen loopback address.
class RawClient {
 public:
  RawClient(const std::string& from, int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
          ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return ok_; }
  bool Send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Reads for up to `ms`; false once the server has closed the connection.
  bool ReadFor(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!closed) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) continue;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) closed = true;
      else received.append(buf, static_cast<size_t>(n));
      if (WholeAnswer()) break;
    }
    return !closed;
  }
  // Reads until one whole answer (headers and Content-Length body) is in.
  std::string Answer(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!WholeAnswer() && !closed && Clock::now() < until) ReadFor(100);
    std::string answer = received;
    received.clear();
    return answer;
  }

  std::string received;
  bool closed = false;

 private:
  bool WholeAnswer() const {
    size_t end = received.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    size_t at = received.find("Content-Length: ");
    if (at == std::string::npos || at > end) return true;
    return received.size() >= end + 4 + std::stoul(received.substr(at + 16));
  }
  int fd_ = -1;
  bool ok_ = false;
};

std::string CatalogueRequest(bool keepAlive) {
  const std::string body("_Ver=2.2.49", 12);
  return "POST /catalogue.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type:application/x-www-form-urlencoded\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\n" + (keepAlive ? "" : "Connection: close\r\n") +
         "\r\n" + body;
}

// Clients that open a request and then send one header line a second.
class Tricklers {
 public:
  Tricklers(const std::vector<std::string>& from, int port, int periodMs = 1000) {
    for (const auto& a : from) {
      clients_.push_back(std::make_unique<RawClient>(a, port));
      clients_.back()->Send("GET /catalogue.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    }
    thread_ = std::thread([this, periodMs] {
      for (int line = 0; !stop_; ++line) {
        for (auto& c : clients_) c->Send("X-Slow-" + std::to_string(line) + ": still here\r\n");
        for (int i = 0; i < periodMs / 50 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
  }
  ~Tricklers() {
    stop_ = true;
    thread_.join();
  }
  bool ok() const {
    return std::all_of(clients_.begin(), clients_.end(), [](const auto& c) { return c->ok(); });
  }

 private:
  std::vector<std::unique_ptr<RawClient>> clients_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::vector<std::string> Addresses(int first, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back("127.0.0." + std::to_string(first + i));
  return out;
}

TEST(UpdatesConnectionsTest, TenSlowClientsDoNotStarveACatalogueRequest) {
  ConnectionLimits limits;
  limits.request_timeout_ms = 120000;  // the slow ones stay for the whole test
  Server s(limits);
  ASSERT_TRUE(s.ok());
  // Ten machines, then ten connections of one more: either way every
  // server thread of a fixed pool would be taken.
  Tricklers many(Addresses(11, 10), s.port());
  Tricklers one(std::vector<std::string>(10, "127.0.0.30"), s.port());
  ASSERT_TRUE(many.ok() && one.ok());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // their first lines are in

  RawClient engine("127.0.0.2", s.port());
  ASSERT_TRUE(engine.ok());
  ASSERT_TRUE(engine.Send(CatalogueRequest(false)));
  std::string answer = engine.Answer(20000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
  EXPECT_NE(answer.find("<tr name=\"Beta\">"), std::string::npos);
}

TEST(UpdatesConnectionsTest, RequestThatDoesNotArriveInTimeIsAnsweredAndClosed) {
  ConnectionLimits limits;
  limits.request_timeout_ms = 1500;
  Server s(limits);
  ASSERT_TRUE(s.ok());
  // A header line every 300 ms: each read is quick, the request never ends.
  RawClient slow("127.0.0.5", s.port());
  ASSERT_TRUE(slow.ok());
  slow.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  const auto started = Clock::now();
  for (int line = 0; !slow.closed && Clock::now() - started < std::chrono::seconds(20); ++line) {
    slow.Send("X-Line-" + std::to_string(line) + ": x\r\n");
    slow.ReadFor(300);
  }
  EXPECT_TRUE(slow.closed) << "still open after 20 s";
  EXPECT_EQ(slow.received.rfind("HTTP/1.1 408 Request Timeout", 0), 0u) << slow.received;
  EXPECT_NE(s.Log().find("127.0.0.5 did not send a whole request within 1.5 s"), std::string::npos) << s.Log();

  // One that connects and says nothing is closed the same way.
  RawClient mute("127.0.0.6", s.port());
  ASSERT_TRUE(mute.ok());
  const auto opened = Clock::now();
  while (!mute.closed && Clock::now() - opened < std::chrono::seconds(20)) mute.ReadFor(500);
  EXPECT_TRUE(mute.closed);

  // A client at normal speed on the same server is answered as ever.
  RawClient quick("127.0.0.7", s.port());
  quick.Send(CatalogueRequest(false));
  EXPECT_EQ(quick.Answer(10000).rfind("HTTP/1.1 200", 0), 0u);
}

TEST(UpdatesConnectionsTest, OneAddressHoldsOnlyItsShareOfConnections) {
  ConnectionLimits limits;
  limits.max_per_client = 3;
  limits.keep_alive_ms = 60000;
  Server s(limits);
  ASSERT_TRUE(s.ok());
  // Three kept-alive connections, each answered once, so all three are in.
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<RawClient>("127.0.0.8", s.port()));
    ASSERT_TRUE(held.back()->Send(CatalogueRequest(true)));
    ASSERT_EQ(held.back()->Answer(10000).rfind("HTTP/1.1 200", 0), 0u);
  }
  for (int i = 0; i < 2; ++i) {
    RawClient fourth("127.0.0.8", s.port());
    fourth.Send(CatalogueRequest(false));
    std::string answer = fourth.Answer(10000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u) << answer;
  }
  // Said once, not once per refusal.
  const std::string log = s.Log();
  const std::string said = "127.0.0.8 has 3 connections open already";
  ASSERT_NE(log.find(said), std::string::npos) << log;
  EXPECT_EQ(log.find(said, log.find(said) + 1), std::string::npos) << log;

  // Another address is not affected.
  RawClient other("127.0.0.9", s.port());
  other.Send(CatalogueRequest(false));
  EXPECT_EQ(other.Answer(10000).rfind("HTTP/1.1 200", 0), 0u);

  // Once one of the three closes, the address may connect again.
  held.pop_back();
  std::string again;
  for (int attempt = 0; attempt < 50; ++attempt) {
    RawClient next("127.0.0.8", s.port());
    next.Send(CatalogueRequest(false));
    again = next.Answer(10000);
    if (again.rfind("HTTP/1.1 200", 0) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(again.rfind("HTTP/1.1 200", 0), 0u) << again;
}

// Each answer is a header and a body written separately: with Nagle's
// algorithm the body waits for the client's delayed acknowledgement (40 ms)
// on every request but the first of a connection. Times are compared with
// the first request's, which also pays for the connection, so a busy
// machine slows both sides alike.
TEST(UpdatesConnectionsTest, KeptAliveRequestsAreNotDelayed) {
  Server s(ConnectionLimits{});
  ASSERT_TRUE(s.ok());
  httplib::Client c("127.0.0.1", s.port());
  c.set_keep_alive(true);
  c.set_read_timeout(10);
  auto timed = [&c] {
    const auto t0 = Clock::now();
    auto r = c.Get("/end.asp");
    EXPECT_TRUE(r && r->status == 200);
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  };
  const double first = timed();
  std::vector<double> later;
  for (int i = 0; i < 10; ++i) later.push_back(timed());
  std::sort(later.begin(), later.end());
  const double median = (later[4] + later[5]) / 2;
  std::printf("kept-alive requests: first %.0f us, median of the next ten %.0f us\n", first, median);
  EXPECT_LT(median / first, 10.0);
}

}  // namespace
}  // namespace orvo::updates
