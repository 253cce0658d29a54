#include "cdp.h"

#include <cmath>

namespace pagesnap {

bool ParseActivePort(const std::string& text, int* port, std::string* path) {
    const std::size_t newline = text.find('\n');
    if (newline == std::string::npos) return false;
    const std::size_t digits = newline > 0 && text[newline - 1] == '\r' ? newline - 1 : newline;
    if (digits == 0 || digits > 5) return false;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    if (value < 1 || value > 65535) return false;
    std::string rest = text.substr(newline + 1);
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
    // Only a path of plain characters goes into the request line.
    if (rest.size() < 2 || rest[0] != '/') return false;
    for (char c : rest) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            return false;
    }
    *port = value;
    *path = rest;
    return true;
}

std::string CdpCommand(int id, const std::string& method, const std::string& paramsJson,
                       const std::string& sessionId) {
    std::string text = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonQuote(method);
    if (!paramsJson.empty()) text += ",\"params\":" + paramsJson;
    if (!sessionId.empty()) text += ",\"sessionId\":" + JsonQuote(sessionId);
    text += "}";
    return text;
}

int PageHeightFromMetrics(const JsonValue& result, int limit) {
    // cssContentSize is in CSS pixels; older browsers only send contentSize.
    const JsonValue* height = result.Path({"cssContentSize", "height"});
    if (!height || !height->IsNumber()) height = result.Path({"contentSize", "height"});
    if (!height || !height->IsNumber()) return 0;
    const double h = std::ceil(height->AsNumber());
    if (!(h >= 1.0)) return 1;
    if (h > limit) return limit;
    return static_cast<int>(h);
}

}  // namespace pagesnap
