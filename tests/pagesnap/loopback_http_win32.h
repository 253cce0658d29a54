// A tiny HTTP server on 127.0.0.1 for tests that point a real browser at a page.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace pagesnap_test {

using Pages = std::map<std::string, std::string>;  // path -> body
constexpr char kStall[] = "<!--stall-->";

class LoopbackHttp {
 public:
  // Serves each path's body as text/html; any other path is a 404. A body holding
  // kStall is sent only up to it, with its full length announced, and the connection is
  // then held open until the server ends: a page that never finishes loading.
  explicit LoopbackHttp(Pages pages);
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;
  ~LoopbackHttp();

  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  int requests() const { return requests_; }

 private:
  void Serve();

  Pages pages_;
  unsigned long long listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::vector<unsigned long long> held_;
  std::thread thread_;
};

// A loopback port that nothing listens on (bound and closed again at once).
int UnusedPort();

}  // namespace pagesnap_test
