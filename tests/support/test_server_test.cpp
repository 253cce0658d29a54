// The test server itself, seen from a plain socket client: other groups rely on it sending
// exactly what a script says, ending connections as asked and logging what arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "test_server.h"

#ifdef _WIN32
#  include <winsock2.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/socket.h>
#  include <sys/time.h>
#  include <unistd.h>
#endif

namespace {

enum class End { Closed, Reset, StillOpen };

struct Reply {
    std::string bytes;
    End end = End::StillOpen;
};

// Sends `request` and reads until the server ends the connection or `quietMs` pass in silence.
Reply Exchange(uint16_t port, const std::string& request, int quietMs = 2000) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    DWORD timeout = quietMs;
#else
    int s = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{quietMs / 1000, (quietMs % 1000) * 1000};
#endif
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    Reply reply;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buf[4096];
        for (;;) {
            int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
            if (n > 0) {
                reply.bytes.append(buf, static_cast<size_t>(n));
                continue;
            }
#ifdef _WIN32
            bool timedOut = n < 0 && WSAGetLastError() == WSAETIMEDOUT;
#else
            bool timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
#endif
            reply.end = n == 0 ? End::Closed : timedOut ? End::StillOpen : End::Reset;
            break;
        }
    }
#ifdef _WIN32
    closesocket(s);
    WSACleanup();
#else
    close(s);
#endif
    return reply;
}

const char kRequest[] = "GET /a?q=1 HTTP/1.1\r\nHost: x\r\nX-Two:  2 \r\n\r\n";

TEST(TestServer, PlaysEachConnectionsScriptAndKeepsWhatTheClientSent) {
    using qmtest::Script;
    std::string response = qmtest::HttpResponseWithLength(200, "hello", "text/plain");
    qmtest::ScriptedServer server({
        Script().SendInPieces(response, 3, 1),
        Script().Send("partial").Then(qmtest::Ending::Reset),
        Script().Send("open").Then(qmtest::Ending::StayOpen),
    });
    Reply closed = Exchange(server.Port(), kRequest);
    EXPECT_EQ(closed.bytes, response);
    EXPECT_EQ(closed.end, End::Closed);
    EXPECT_EQ(server.Received(0), kRequest);
    auto log = server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/a?q=1");
    EXPECT_EQ(log[0].Header("x-two"), "2");
    EXPECT_FALSE(log[0].HasHeader("Accept"));

    Reply reset = Exchange(server.Port(), kRequest);
#ifndef _WIN32
    // Wine passes a reset on as an orderly close now and then.
    EXPECT_EQ(reset.end, End::Reset);
#endif
    Reply open = Exchange(server.Port(), kRequest, 300);
    EXPECT_EQ(open.bytes, "open");
    EXPECT_EQ(open.end, End::StillOpen);
}

TEST(TestServer, SiteAnswersByPath) {
    qmtest::SiteServer site;
    site.AddPage("/index.html", "<p>hi</p>");
    site.AddStalled("/slow.css", "body{}", 2, 50, "text/css");
    EXPECT_NE(Exchange(site.Port(), "GET /index.html?x HTTP/1.1\r\n\r\n").bytes.find("<p>hi</p>"),
              std::string::npos);
    Reply stalled = Exchange(site.Port(), "GET /slow.css HTTP/1.1\r\n\r\n");
    EXPECT_EQ(stalled.bytes.substr(stalled.bytes.size() - 2), "bo");
    EXPECT_EQ(Exchange(site.Port(), "GET /missing HTTP/1.0\r\n\r\n").bytes.substr(0, 12),
              "HTTP/1.1 404");
    EXPECT_EQ(site.RequestedTargets(),
              (std::vector<std::string>{"/index.html?x", "/slow.css", "/missing"}));
}

}  // namespace
