// The byte stream between the DevTools client and the browser: one TCP connection to its
// DevTools port on the loopback address. Every wait ends at its deadline. Winsock on Windows,
// BSD sockets elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "clock.h"

namespace pagesnap {

class DevToolsLink {
public:
    DevToolsLink();
    ~DevToolsLink();  // closes the connection
    DevToolsLink(const DevToolsLink&) = delete;
    DevToolsLink& operator=(const DevToolsLink&) = delete;

    bool Connect(int port, Tick deadline, std::string* why);
    bool connected() const { return socket_ != kNone; }
    // Sends every byte; false, with the reason, when the browser does not take them in time.
    bool SendAll(const std::string& bytes, Tick deadline, std::string* why);
    // Receives 1 to `capacity` bytes into `buffer`; false when nothing came in time, or the
    // browser closed the connection.
    bool Receive(char* buffer, std::size_t capacity, Tick deadline, std::size_t* received,
                 std::string* why);
    void Close();

private:
    // Each system's own. A non-blocking socket that begins to connect to `port` on the
    // loopback address: 0, or the system's error.
    int BeginConnect(int port);
    // The error the connection's setting up ended with; 0 when it connected.
    int ConnectError() const;
    // Whether the socket became ready to read (or to write) before the deadline.
    bool Wait(bool forWrite, Tick deadline) const;
    // Bytes sent or received: more than 0; 0 when it is to be tried again; less than 0 when
    // the connection broke or, receiving, was closed.
    long SendSome(const char* data, std::size_t length);
    long ReceiveSome(char* buffer, std::size_t capacity);
    static std::string ErrorText(int error);

    static constexpr intptr_t kNone = -1;
    intptr_t socket_ = kNone;
};

}  // namespace pagesnap
