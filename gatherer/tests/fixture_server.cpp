#include "fixture_server.h"

#include <algorithm>
#include <chrono>

namespace orvo::testing {

FixtureServer::FixtureServer() {
  // Headers and body leave in separate writes; without this, Nagle's
  // algorithm and delayed acknowledgements add 40 ms to every response.
  server_.set_tcp_nodelay(true);
  // Requests are noted before they are answered: noted by the logger, after
  // the answer, a client could see the answer before the count moved.
  server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
    if (plain_) const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(req.method + " " + req.path);
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

FixtureServer::~FixtureServer() {
  stopping_ = true;
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

void FixtureServer::ServePlain() {
  plain_ = true;
  server_.set_keep_alive_max_count(1000000);
  // A kept-alive connection holds a worker until it closes: with more lanes
  // than the default pool (8) has workers, a lane's request would wait out
  // another's keep-alive (5 s) and the figures would measure the fixture.
  server_.new_task_queue = [] { return new httplib::ThreadPool(64); };
}

void FixtureServer::Start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

std::string FixtureServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> FixtureServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int FixtureServer::CountRequests(const std::string& methodAndPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count(requests_.begin(), requests_.end(), methodAndPath));
}

}  // namespace orvo::testing
