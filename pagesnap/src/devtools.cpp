#include "devtools.h"

#include <random>
#include <vector>

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

}  // namespace

DevToolsClient::DevToolsClient() : reader_(kMaxMessageBytes), random_(std::random_device{}()) {}

bool DevToolsClient::Connect(int port, const std::string& path, Tick deadline, std::string* why) {
    if (!link_.Connect(port, deadline, why)) return false;
    std::string key(16, '\0');
    for (char& c : key) c = static_cast<char>(NextRandom() >> 16);
    const std::string request = WsHandshakeRequest("127.0.0.1", port, path, Base64Encode(key));
    if (!link_.SendAll(request, deadline, why)) {
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
        char chunk[2048];
        std::size_t n = 0;
        if (answer.size() > kMaxHandshakeBytes ||
            !link_.Receive(chunk, sizeof chunk, deadline, &n, why)) {
            *why = "the browser did not answer the DevTools handshake";
            return false;
        }
        answer.append(chunk, n);
    }
}

unsigned DevToolsClient::NextRandom() {
    random_ = random_ * 1103515245u + 12345u;
    return random_;
}

bool DevToolsClient::Send(WsOpcode opcode, const std::string& payload, Tick deadline,
                          std::string* why) {
    return link_.SendAll(WsClientFrame(opcode, payload, NextRandom()), deadline, why);
}

void DevToolsClient::NoteEvent(JsonValue& message) {
    const JsonValue* event = message.Find("method");
    const JsonValue* session = message.Find("sessionId");
    if (event && event->IsString()) {
        events_.insert(EventKey(session ? session->AsString() : std::string(), event->AsString()));
        if (kept_.count(event->AsString()) != 0) pending_.push_back(std::move(message));
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
        std::size_t n = 0;
        if (!link_.Receive(chunk.data(), chunk.size(), deadline, &n, why)) return false;
        reader_.Feed(chunk.data(), n);
    }
}

int DevToolsClient::Post(const std::string& method, const std::string& params,
                         const std::string& session, Tick deadline, std::string* why) {
    if (!link_.connected()) {
        *why = method + ": not connected to the browser";
        return 0;
    }
    const int id = nextId_++;
    if (!Send(WsOpcode::kText, CdpCommand(id, method, params, session), deadline, why)) {
        *why = method + ": " + *why;
        return 0;
    }
    posted_.insert(id);
    methods_[id] = method;
    return id;
}

void DevToolsClient::NoteAnswer(JsonValue& message) {
    const JsonValue* answerId = message.Find("id");
    if (!answerId->IsNumber()) return;
    const int id = static_cast<int>(answerId->AsNumber());
    if (posted_.erase(id) != 0) answers_[id] = std::move(message);
}

bool DevToolsClient::Call(const std::string& method, const std::string& params,
                          const std::string& session, Tick deadline, JsonValue* result,
                          std::string* why) {
    const int id = Post(method, params, session, deadline, why);
    return id != 0 && Call(id, deadline, result, why);
}

bool DevToolsClient::Call(int id, Tick deadline, JsonValue* result, std::string* why) {
    const std::string method = methods_[id];
    while (answers_.count(id) == 0) {
        JsonValue message;
        if (!ReadMessage(deadline, &message, why)) {
            *why = method + ": " + *why;
            posted_.erase(id);  // an answer that comes after all is not kept
            methods_.erase(id);
            return false;
        }
        if (message.Find("id")) NoteAnswer(message);
        else NoteEvent(message);
    }
    JsonValue message = std::move(answers_[id]);
    answers_.erase(id);
    methods_.erase(id);
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

bool DevToolsClient::WaitForEvent(const std::string& method, const std::string& session,
                                  Tick deadline) {
    const std::string key = EventKey(session, method);
    while (events_.count(key) == 0) {
        JsonValue message;
        std::string why;
        if (!ReadMessage(deadline, &message, &why)) return false;
        if (message.Find("id")) NoteAnswer(message);
        else NoteEvent(message);
    }
    return true;
}

bool DevToolsClient::NextEvent(Tick until, JsonValue* event) {
    while (pending_.empty()) {
        JsonValue message;
        std::string why;
        if (!ReadMessage(until, &message, &why)) return false;
        if (message.Find("id")) NoteAnswer(message);
        else NoteEvent(message);
    }
    *event = std::move(pending_.front());
    pending_.pop_front();
    return true;
}

}  // namespace pagesnap
