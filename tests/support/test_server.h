// A scripted HTTP server for tests, on loopback inside the test process (natively and under
// Wine), one thread per connection, stopped and joined by its destructor. Its handler gives,
// for each request, a script: what to send (pieces, pauses) and how the connection ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qmtest {

enum class Ending {
    Close,      // an orderly close (FIN)
    Reset,      // an abortive close (RST)
    StayOpen,   // open until the client closes it or the server stops
    KeepAlive,  // read the next request on the same connection and answer it too
};

struct Script {
    struct Step {
        std::string bytes;  // sent as one piece (TCP_NODELAY)
        int pauseMs = 0;    // then waits this long
    };
    std::vector<Step> steps;
    Ending ending = Ending::Close;

    Script& Send(std::string bytes);
    Script& SendInPieces(const std::string& bytes, size_t piece, int pauseMs = 0);
    Script& Then(Ending how);
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// Status line, the headers in order, a blank line and the body; nothing added.
std::string HttpResponse(int status, const Headers& headers, const std::string& body);
// With "Content-Type" (when given) and "Content-Length" for the body.
std::string HttpResponseWithLength(int status, const std::string& body,
                                   const std::string& contentType = "",
                                   const Headers& extraHeaders = {});
// A redirect with status `status` to `location` (as written in its Location line).
Script Redirect(int status, const std::string& location, const std::string& body = "");

struct Request {
    std::string head;    // every byte up to and with the blank line
    std::string target;  // as written on the request line
    // The trimmed value of the first header of that name (in any case), or "".
    std::string Header(const std::string& name) const;
};

class TestServer {
public:
    using Handler = std::function<Script(const Request&)>;

    // 127.0.0.2 stands for a second host without any name service; "::1" for IPv6. `port` 0:
    // one the system picks.
    explicit TestServer(Handler handler, const std::string& address = "127.0.0.1",
                        uint16_t port = 0);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    uint16_t Port() const;
    std::string Url(const std::string& path = "/") const;  // "http://<address>:<port>" + path
    std::vector<Request> Log() const;                      // in arrival order
    // The targets asked for after the first `since` requests, sorted.
    std::vector<std::string> RequestedTargets(size_t since = 0) const;
    size_t ConnectionCount() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// An address at a port where connection attempts go unanswered, as at a host that is down:
// a listener that accepts nothing, its one waiting place taken.
class SilentAddress {
public:
    SilentAddress(const std::string& address, uint16_t port);
    ~SilentAddress();
    SilentAddress(const SilentAddress&) = delete;
    SilentAddress& operator=(const SilentAddress&) = delete;
    bool ok() const { return ok_; }

private:
    uintptr_t listener_, waiting_;
    bool ok_ = false;
};

struct SitePages {
    std::mutex mutex;
    std::map<std::string, Script> byPath;
    bool keepAlive = false;
};

// A script per request path (the target without its query), 404 otherwise.
class SiteServer : private SitePages, public TestServer {
public:
    explicit SiteServer(const std::string& address = "127.0.0.1");

    void Add(const std::string& path, Script script);
    void AddPage(const std::string& path, const std::string& body,
                 const std::string& contentType = "text/html", const Headers& extraHeaders = {});
    // The header and the first `sentBytes` of the body, then a pause of `stallMs` (or an
    // open connection without more when negative).
    void AddStalled(const std::string& path, const std::string& body, size_t sentBytes,
                    int stallMs = -1, const std::string& contentType = "text/html");
    // From now on a page's response ends by waiting for the next request on its connection.
    void KeepConnectionsAlive();
};

}  // namespace qmtest
