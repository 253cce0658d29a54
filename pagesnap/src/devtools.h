// A DevTools client over one WebSocket connection to the browser. Every call has a
// deadline: the renderer has a fixed time for a job and must never hang on the browser.
#pragma once

#include <set>
#include <string>

#include "clock.h"
#include "devtools_link.h"
#include "json.h"
#include "websocket.h"

namespace pagesnap {

class DevToolsClient {
public:
    DevToolsClient();
    DevToolsClient(const DevToolsClient&) = delete;
    DevToolsClient& operator=(const DevToolsClient&) = delete;

    bool Connect(int port, const std::string& path, Tick deadline, std::string* why);
    // Sends a command and waits for its answer. A protocol error answer is a failure with
    // the browser's message in `why`. Events that arrive meanwhile are remembered.
    bool Call(const std::string& method, const std::string& params, const std::string& session,
              Tick deadline, JsonValue* result, std::string* why);
    // True once the event has arrived for the session (also before this call).
    bool WaitForEvent(const std::string& method, const std::string& session, Tick deadline);

private:
    unsigned NextRandom();
    bool Send(WsOpcode opcode, const std::string& payload, Tick deadline, std::string* why);
    // Remembers an event message ("method" without "id") for WaitForEvent.
    void NoteEvent(const JsonValue& message);
    bool ReadMessage(Tick deadline, JsonValue* message, std::string* why);

    DevToolsLink link_;
    WsReader reader_;
    std::set<std::string> events_;  // "session method"
    int nextId_ = 1;
    unsigned random_;
};

}  // namespace pagesnap
