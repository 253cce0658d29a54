#include "loopback_http_win32.h"

#include <winsock2.h>

#include <stdexcept>

namespace pagesnap_test {

namespace {

struct WinsockOnce {
  WinsockOnce() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
  }
};

SOCKET ListenOnLoopback(int* port) {
  static WinsockOnce winsock;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 16) != 0) {
    throw std::runtime_error("no loopback listener");
  }
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return s;
}

}  // namespace

LoopbackHttp::LoopbackHttp(Pages pages) : pages_(std::move(pages)) {
  listener_ = ListenOnLoopback(&port_);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttp::~LoopbackHttp() {
  stop_ = true;
  thread_.join();
  for (unsigned long long s : held_) closesocket(static_cast<SOCKET>(s));
  closesocket(static_cast<SOCKET>(listener_));
}

std::string LoopbackHttp::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHttp::Serve() {
  const SOCKET listener = static_cast<SOCKET>(listener_);
  while (!stop_) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener, &ready);
    timeval slice = {0, 50 * 1000};
    if (select(0, &ready, nullptr, nullptr, &slice) != 1) continue;
    SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    // One request per connection; the head is all we read.
    std::string request;
    char chunk[4096];
    DWORD timeout = 2000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof timeout);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      int n = recv(client, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      request.append(chunk, static_cast<std::size_t>(n));
    }
    ++requests_;
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    const auto page = pages_.find(path);
    const std::string body = page != pages_.end() ? page->second : "<h1>Not here</h1>";
    const std::size_t stall = body.find(kStall);
    const std::string response =
        std::string(page != pages_.end() ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found") +
        "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body.substr(0, stall);
    send(client, response.data(), static_cast<int>(response.size()), 0);
    if (stall != std::string::npos) {
      held_.push_back(client);
      continue;
    }
    shutdown(client, SD_SEND);
    closesocket(client);
  }
}

int UnusedPort() {
  int port = 0;
  closesocket(ListenOnLoopback(&port));
  return port;
}

}  // namespace pagesnap_test
