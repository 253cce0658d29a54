#include "websocket.h"

namespace pagesnap {

std::string WsHandshakeRequest(const std::string& host, int port, const std::string& path,
                               const std::string& key) {
    // No Origin header: the browser accepts DevTools clients that send none.
    return "GET " + path +
           " HTTP/1.1\r\n"
           "Host: " +
           host + ":" + std::to_string(port) +
           "\r\n"
           "Upgrade: websocket\r\n"
           "Connection: Upgrade\r\n"
           "Sec-WebSocket-Key: " +
           key +
           "\r\n"
           "Sec-WebSocket-Version: 13\r\n"
           "\r\n";
}

bool WsHandshakeAccepted(const std::string& head) {
    // "HTTP/1.1 101 ..." (any minor version)
    return head.compare(0, 7, "HTTP/1.") == 0 && head.size() >= 13 &&
           head.compare(8, 4, " 101") == 0 && (head[12] == ' ' || head[12] == '\r');
}

std::string WsClientFrame(WsOpcode opcode, const std::string& payload, std::uint32_t mask) {
    std::string frame;
    frame.reserve(payload.size() + 14);
    frame.push_back(static_cast<char>(0x80 | static_cast<std::uint8_t>(opcode)));
    const std::uint64_t n = payload.size();
    if (n < 126) {
        frame.push_back(static_cast<char>(0x80 | n));
    } else if (n <= 0xFFFF) {
        frame.push_back(static_cast<char>(0x80 | 126));
        frame.push_back(static_cast<char>(n >> 8));
        frame.push_back(static_cast<char>(n & 0xFF));
    } else {
        frame.push_back(static_cast<char>(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(static_cast<char>((n >> shift) & 0xFF));
    }
    const char key[4] = {static_cast<char>(mask >> 24), static_cast<char>((mask >> 16) & 0xFF),
                         static_cast<char>((mask >> 8) & 0xFF), static_cast<char>(mask & 0xFF)};
    frame.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        frame.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
    return frame;
}

void WsReader::Feed(const char* data, std::size_t size) {
    if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    buffer_.append(data, size);
}

WsReader::Event WsReader::Fail(const char* why) {
    error_ = why;
    return Event::kError;
}

WsReader::Event WsReader::Next(std::string* payload) {
    if (!error_.empty()) return Event::kError;
    for (;;) {
        const std::size_t avail = buffer_.size() - pos_;
        if (avail < 2) return Event::kNeedMore;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(buffer_.data() + pos_);
        const bool fin = (p[0] & 0x80) != 0;
        if (p[0] & 0x70) return Fail("the browser sent a frame with reserved bits set");
        const unsigned opcode = p[0] & 0x0F;
        if (p[1] & 0x80) return Fail("the browser sent a masked frame");
        std::uint64_t length = p[1] & 0x7F;
        std::size_t header = 2;
        if (length == 126) {
            if (avail < 4) return Event::kNeedMore;
            length = (static_cast<std::uint64_t>(p[2]) << 8) | p[3];
            header = 4;
        } else if (length == 127) {
            if (avail < 10) return Event::kNeedMore;
            length = 0;
            for (int i = 0; i < 8; ++i) length = (length << 8) | p[2 + i];
            header = 10;
        }
        const bool control = (opcode & 0x8) != 0;
        if (control && (length > 125 || !fin))
            return Fail("the browser sent a malformed control frame");
        if (length > maxMessage_ || (!control && message_.size() + length > maxMessage_)) {
            return Fail("the browser sent a message larger than the renderer accepts");
        }
        if (avail - header < length) return Event::kNeedMore;

        const char* body = buffer_.data() + pos_ + header;
        const std::size_t size = static_cast<std::size_t>(length);
        pos_ += header + size;
        switch (opcode) {
            case 0x0:
                if (!inMessage_) return Fail("the browser sent a continuation without a message");
                message_.append(body, size);
                break;
            case 0x1:
            case 0x2:
                if (inMessage_) return Fail("the browser began a message inside another");
                message_.assign(body, size);
                inMessage_ = true;
                break;
            case 0x8: return Event::kClose;
            case 0x9: payload->assign(body, size); return Event::kPing;
            case 0xA: continue;  // an answer to no ping of ours: nothing to do
            default: return Fail("the browser sent a frame of an unknown kind");
        }
        if (fin && inMessage_) {
            inMessage_ = false;
            payload->swap(message_);
            message_.clear();
            return Event::kMessage;
        }
    }
}

}  // namespace pagesnap
