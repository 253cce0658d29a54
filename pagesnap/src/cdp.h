// The DevTools protocol messages the renderer exchanges with the browser, kept apart
// from the sockets and processes so that they can be checked on their own.
#pragma once

#include <string>

#include "json.h"

namespace pagesnap {

// The browser writes "<port>\n<endpoint path>" into DevToolsActivePort in its profile
// folder once it listens. False until both lines are there and make sense.
bool ParseActivePort(const std::string& text, int* port, std::string* path);

// {"id":..,"method":..,"params":{..},"sessionId":..}; no sessionId for the browser itself.
std::string CdpCommand(int id, const std::string& method, const std::string& paramsJson,
                       const std::string& sessionId);

// The full height of the page in CSS pixels from a Page.getLayoutMetrics result, rounded
// up and kept within 1..limit. Zero when the result has no content size.
int PageHeightFromMetrics(const JsonValue& result, int limit);

}  // namespace pagesnap
