#include "devtools_win32.h"

#include <ws2tcpip.h>

#include "base64.h"
#include "cdp.h"

namespace pagesnap {

namespace {

// A full-page picture of the tallest page we take, base64-encoded, with room to spare.
constexpr std::size_t kMaxMessageBytes = 192u << 20;
constexpr std::size_t kMaxHandshakeBytes = 16 << 10;

std::string EventKey(const std::string& session, const std::string& method) {
    return session + " " + method;
}

// Waits until the socket can be read (or written); false when the deadline passes first.
bool WaitSocket(SOCKET s, bool forWrite, Tick deadline) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    const DWORD left = Remaining(deadline);
    timeval timeout = {static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    const int ready = forWrite ? select(0, nullptr, &set, nullptr, &timeout)
                               : select(0, &set, nullptr, nullptr, &timeout);
    return ready == 1;
}

}  // namespace

DevToolsClient::DevToolsClient() : reader_(kMaxMessageBytes) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    random_ = static_cast<unsigned>(counter.QuadPart) ^ (GetCurrentThreadId() << 16) ^ 0x9E3779B9u;
}

DevToolsClient::~DevToolsClient() { Close(); }

void DevToolsClient::Close() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

bool DevToolsClient::Connect(int port, const std::string& path, Tick deadline, std::string* why) {
    Close();
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) {
        *why = "could not create a socket: " + LastErrorText(WSAGetLastError());
        return false;
    }
    u_long nonBlocking = 1;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        *why = "could not reach the browser's DevTools port: " + LastErrorText(WSAGetLastError());
        return false;
    }
    if (!WaitSocket(socket_, true, deadline)) {
        *why = "the browser's DevTools port did not answer";
        return false;
    }
    int error = 0;
    int length = sizeof error;
    getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    if (error != 0) {
        *why = "could not reach the browser's DevTools port: " + LastErrorText(error);
        return false;
    }

    std::string key(16, '\0');
    for (char& c : key) c = static_cast<char>(NextRandom() >> 16);
    const std::string request = WsHandshakeRequest("127.0.0.1", port, path, Base64Encode(key));
    if (!SendAll(request, deadline, why)) {
        *why = "the DevTools handshake could not be sent: " + *why;
        return false;
    }

    std::string answer;
    for (;;) {
        const std::size_t end = answer.find("\r\n\r\n");
        if (end != std::string::npos) {
            if (!WsHandshakeAccepted(answer)) {
                *why = "the browser refused the DevTools connection: " +
                       answer.substr(0, answer.find('\r'));
                return false;
            }
            reader_.Feed(answer.data() + end + 4, answer.size() - end - 4);
            return true;
        }
        if (answer.size() > kMaxHandshakeBytes || !WaitSocket(socket_, false, deadline)) {
            *why = "the browser did not answer the DevTools handshake";
            return false;
        }
        char chunk[2048];
        int n = recv(socket_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            *why = "the browser closed the DevTools connection during the handshake";
            return false;
        }
        answer.append(chunk, static_cast<std::size_t>(n));
    }
}

unsigned DevToolsClient::NextRandom() {
    random_ = random_ * 1103515245u + 12345u;
    return random_;
}

bool DevToolsClient::SendAll(const std::string& bytes, Tick deadline, std::string* why) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!WaitSocket(socket_, true, deadline)) {
            *why = "the browser did not take what was sent in time";
            return false;
        }
        int n = send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) {
            *why = "the DevTools connection broke while sending";
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool DevToolsClient::Send(WsOpcode opcode, const std::string& payload, Tick deadline,
                          std::string* why) {
    return SendAll(WsClientFrame(opcode, payload, NextRandom()), deadline, why);
}

void DevToolsClient::NoteEvent(const JsonValue& message) {
    const JsonValue* event = message.Find("method");
    const JsonValue* session = message.Find("sessionId");
    if (event && event->IsString()) {
        events_.insert(EventKey(session ? session->AsString() : std::string(), event->AsString()));
    }
}

bool DevToolsClient::ReadMessage(Tick deadline, JsonValue* message, std::string* why) {
    std::vector<char> chunk(256 << 10);
    for (;;) {
        std::string payload;
        switch (reader_.Next(&payload)) {
            case WsReader::Event::kMessage:
                if (!ParseJson(payload, message)) {
                    *why = "the browser sent a DevTools message that is not JSON";
                    return false;
                }
                return true;
            case WsReader::Event::kPing:
                if (!Send(WsOpcode::kPong, payload, deadline, why)) return false;
                continue;
            case WsReader::Event::kClose:
                *why = "the browser closed the DevTools connection";
                return false;
            case WsReader::Event::kError: *why = reader_.error(); return false;
            case WsReader::Event::kNeedMore: break;
        }
        if (!WaitSocket(socket_, false, deadline)) {
            *why = "the browser did not answer in time";
            return false;
        }
        int n = recv(socket_, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (n <= 0) {
            *why = "the DevTools connection broke";
            return false;
        }
        reader_.Feed(chunk.data(), static_cast<std::size_t>(n));
    }
}

bool DevToolsClient::Call(const std::string& method, const std::string& params,
                          const std::string& session, Tick deadline, JsonValue* result,
                          std::string* why) {
    if (socket_ == INVALID_SOCKET) {
        *why = "not connected to the browser";
        return false;
    }
    const int id = nextId_++;
    if (!Send(WsOpcode::kText, CdpCommand(id, method, params, session), deadline, why)) {
        *why = method + ": " + *why;
        return false;
    }
    for (;;) {
        JsonValue message;
        if (!ReadMessage(deadline, &message, why)) {
            *why = method + ": " + *why;
            return false;
        }
        const JsonValue* answerId = message.Find("id");
        if (!answerId) {
            NoteEvent(message);
            continue;
        }
        if (!answerId->IsNumber() || answerId->AsNumber() != id) continue;
        if (const JsonValue* error = message.Find("error")) {
            const JsonValue* text = error->Find("message");
            *why = method + " was refused by the browser: " +
                   (text && text->IsString() ? text->AsString() : std::string("no reason given"));
            return false;
        }
        // Moved, not copied: a screenshot answer is tens of megabytes.
        JsonValue* answer = message.Find("result");
        *result = answer ? std::move(*answer) : JsonValue();
        return true;
    }
}

bool DevToolsClient::WaitForEvent(const std::string& method, const std::string& session,
                                  Tick deadline) {
    const std::string key = EventKey(session, method);
    while (events_.count(key) == 0) {
        JsonValue message;
        std::string why;
        if (!ReadMessage(deadline, &message, &why)) return false;
        NoteEvent(message);
    }
    return true;
}

}  // namespace pagesnap
