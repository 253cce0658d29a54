// The client side of the WebSocket protocol, as far as the browser's DevTools endpoint
// needs it: the opening handshake, masked frames out, and reassembled messages in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pagesnap {

enum class WsOpcode : std::uint8_t {
    kContinuation = 0x0,
    kText = 0x1,
    kBinary = 0x2,
    kClose = 0x8,
    kPing = 0x9,
    kPong = 0xA,
};

std::string WsHandshakeRequest(const std::string& host, int port, const std::string& path,
                               const std::string& key);
// True when the head of the answer (up to its blank line) switches protocols.
bool WsHandshakeAccepted(const std::string& head);

// One final frame; clients must mask everything they send.
std::string WsClientFrame(WsOpcode opcode, const std::string& payload, std::uint32_t mask);

// Takes bytes as they arrive and hands back whole messages. Fragments are joined, and a
// message larger than the limit is an error rather than an allocation without end.
class WsReader {
public:
    enum class Event { kNeedMore, kMessage, kPing, kClose, kError };

    explicit WsReader(std::size_t maxMessage) : maxMessage_(maxMessage) {}

    void Feed(const char* data, std::size_t size);
    // kMessage and kPing leave their payload in `payload`.
    Event Next(std::string* payload);
    const std::string& error() const { return error_; }

private:
    Event Fail(const char* why);

    std::size_t maxMessage_;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::string message_;
    bool inMessage_ = false;
    std::string error_;
};

}  // namespace pagesnap
