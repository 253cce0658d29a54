// A DevTools client over one WebSocket connection to the browser. Every call has a
// deadline: the renderer has a fixed time for a job and must never hang on the browser.
#pragma once

#include <deque>
#include <map>
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
    // Sends a command without waiting for its answer: its number, or 0 when it could not be
    // sent. Answered tells once the answer has come, Call(id, ...) takes it.
    int Post(const std::string& method, const std::string& params, const std::string& session,
             Tick deadline, std::string* why);
    bool Answered(int id) const { return answers_.count(id) != 0; }
    bool Call(int id, Tick deadline, JsonValue* result, std::string* why);
    // True once the event has arrived for the session (also before this call).
    bool WaitForEvent(const std::string& method, const std::string& session, Tick deadline);
    // Events of `method` are kept whole, in the order they come, for NextEvent.
    void Keep(const std::string& method) { kept_.insert(method); }
    // The next kept event, reading what the browser sends until `until` at the latest; false
    // when none has come by then.
    bool NextEvent(Tick until, JsonValue* event);

private:
    unsigned NextRandom();
    bool Send(WsOpcode opcode, const std::string& payload, Tick deadline, std::string* why);
    // Remembers an event message ("method" without "id") for WaitForEvent, and keeps it
    // whole when its method is kept.
    void NoteEvent(JsonValue& message);
    bool ReadMessage(Tick deadline, JsonValue* message, std::string* why);
    // Keeps an answer to a command posted and not yet taken.
    void NoteAnswer(JsonValue& message);

    DevToolsLink link_;
    WsReader reader_;
    std::set<std::string> events_;  // "session method"
    std::set<std::string> kept_;    // methods whose events are kept whole
    std::deque<JsonValue> pending_;       // kept events not yet taken
    std::map<int, JsonValue> answers_;    // answers to posted commands, not yet taken
    std::set<int> posted_;                // commands posted whose answers are not yet taken
    std::map<int, std::string> methods_;  // the method of each command posted, for its failure
    int nextId_ = 1;
    unsigned random_;
};

}  // namespace pagesnap
