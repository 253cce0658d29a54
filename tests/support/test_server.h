// A scripted HTTP server for tests. It runs inside the test process on loopback (natively
// and under Wine), one thread per connection, and is stopped and joined by its destructor.
//
// A test says what the server sends on a connection (byte pieces, pauses, and how the
// connection ends) and reads back the exact bytes the client sent:
//
//     qmtest::ScriptedServer server(qmtest::Script()
//         .SendInPieces(qmtest::HttpResponse(200, {{"Content-Length", "2"}}, "hi"), 1)
//         .Then(qmtest::Ending::StayOpen));
//     ... fetch server.Url("/a") ...
//     EXPECT_EQ(server.Received(0), "GET /a HTTP/1.1\r\n...");
//
// A SiteServer answers by request path, for crawls and program tests that fetch many items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qmtest {

// How the server leaves a connection once its script has run.
enum class Ending {
    Close,      // an orderly close (FIN)
    Reset,      // an abortive close (RST)
    StayOpen,   // keep it open until the client closes it or the server stops
    KeepAlive,  // read the next request on the same connection and answer it too
};

// What the server does on one connection once the request's blank line has arrived (or the
// client has stopped sending).
struct Script {
    struct Step {
        std::string bytes;  // sent as one piece (TCP_NODELAY), when not empty
        int pauseMs = 0;    // then waits this long
    };
    std::vector<Step> steps;
    Ending ending = Ending::Close;

    Script& Send(std::string bytes);
    Script& Pause(int ms);
    // Sends `bytes` in pieces of `piece` bytes (the last may be shorter), pausing between.
    Script& SendInPieces(const std::string& bytes, size_t piece, int pauseMs = 0);
    Script& Then(Ending how);
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// A complete response: status line, the headers in order, a blank line and the body. No
// header is added: a test that wants Content-Length says so, or uses the next one.
std::string HttpResponse(int status, const Headers& headers, const std::string& body);
// A response with "Content-Length" (and "Content-Type" when given) set for the body.
std::string HttpResponseWithLength(int status, const std::string& body,
                                   const std::string& contentType = "",
                                   const Headers& extraHeaders = {});

// One request as the server read it.
struct Request {
    size_t connection = 0;  // index of the connection it came on, in accept order
    std::string head;       // every byte up to and with the blank line
    std::string target;     // as written on the request line
    Headers headers;        // in arrival order, values trimmed
    // The value of the first header of that name (compared without regard to case).
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// Answers every request with the script its handler gives for it.
class TestServer {
public:
    using Handler = std::function<Script(const Request&)>;

    // Listens on `address` (a loopback address such as 127.0.0.2 stands for a second host
    // without any name service) at a port the system picks (or `port` when not 0).
    explicit TestServer(Handler handler, uint16_t port = 0,
                        const std::string& address = "127.0.0.1");
    virtual ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    uint16_t Port() const { return port_; }
    // "http://<address>:<port>" + path.
    std::string Url(const std::string& path = "/") const;

    // Every request so far, in arrival order.
    std::vector<Request> Log() const;
    // Connections accepted so far.
    size_t ConnectionCount() const;
    // Every byte the client sent on connection `index`, once that connection has ended
    // (waits for it; what came so far when it does not end within `timeoutMs`).
    std::string Received(size_t index = 0, int timeoutMs = 10000) const;

private:
    struct State;
    void AcceptLoop();
    void Serve(uintptr_t socket, size_t index);

    Handler handler_;
    std::string address_;
    uint16_t port_ = 0;
    std::shared_ptr<State> state_;
};

// Plays one script per connection, in order; the last one is repeated for later connections.
class ScriptedServer : public TestServer {
public:
    explicit ScriptedServer(Script script);
    explicit ScriptedServer(std::vector<Script> scripts);
};

// A small site: a script per request path (the target without its query), 404 otherwise.
class SiteServer : public TestServer {
public:
    explicit SiteServer(const std::string& address = "127.0.0.1");

    void Add(const std::string& path, Script script);
    // Serves a 200 response with Content-Length and the given type.
    void AddPage(const std::string& path, const std::string& body,
                 const std::string& contentType = "text/html", const Headers& extraHeaders = {});
    // Sends the header and the first `sentBytes` of the body, then pauses `stallMs`
    // (or keeps the connection open without sending more when stallMs is negative).
    void AddStalled(const std::string& path, const std::string& body, size_t sentBytes,
                    int stallMs = -1, const std::string& contentType = "text/html");

    // The targets requested so far, in arrival order.
    std::vector<std::string> RequestedTargets() const;
    // From now on, every page ends its response by waiting for the next request on the
    // same connection, as servers that keep connections alive do.
    void KeepConnectionsAlive();

private:
    struct Pages;
    std::shared_ptr<Pages> pages_;
    SiteServer(std::shared_ptr<Pages> pages, const std::string& address);
};

}  // namespace qmtest
