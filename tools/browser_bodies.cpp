#include "browser_bodies.h"

#include <algorithm>
#include <cstdlib>

#include "base64.h"

namespace qmsave {

namespace {

using pagesnap::JsonQuote;
using pagesnap::JsonValue;
using pagesnap::Now;
using pagesnap::Tick;

// A document is paused before it is sent, to be answered or let go with its response paused
// too; what else a page shows is paused once its response has come.
constexpr char kPatterns[] =
    R"({"patterns":[{"urlPattern":"*","resourceType":"Document","requestStage":"Request"},)"
    R"({"urlPattern":"*","resourceType":"Stylesheet","requestStage":"Response"},)"
    R"({"urlPattern":"*","resourceType":"Image","requestStage":"Response"},)"
    R"({"urlPattern":"*","resourceType":"Font","requestStage":"Response"},)"
    R"({"urlPattern":"*","resourceType":"Script","requestStage":"Response"}]})";

// How long one answer to the browser may take; a body still coming after that is let go.
constexpr Tick kAnswerTime = 10000;

std::string WithoutFragment(const std::string& url) { return url.substr(0, url.find('#')); }

std::string Text(const JsonValue* value) {
    return value != nullptr && value->IsString() ? value->AsString() : std::string();
}

// The length a response's header gives, or -1.
long long DeclaredLength(const JsonValue* headers) {
    if (headers == nullptr) return -1;
    for (const JsonValue& field : headers->Items()) {
        std::string name = Text(field.Find("name"));
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (name == "content-length") return std::atoll(Text(field.Find("value")).c_str());
    }
    return -1;
}

}  // namespace

bool BrowserBodies::Begin(const std::string& pageUrl, const std::string* text,
                          const std::string& contentType, Tick deadline, std::string* why) {
    pageUrl_ = WithoutFragment(pageUrl);
    text_ = text;
    contentType_ = contentType.empty() ? "text/html" : contentType;
    devtools_.Keep("Fetch.requestPaused");
    JsonValue ignored;
    return devtools_.Call("Fetch.enable", kPatterns, session_, deadline, &ignored, why);
}

bool BrowserBodies::WatchRequests(Tick deadline, std::string* why) {
    devtools_.Keep("Network.requestWillBeSent");
    JsonValue ignored;
    return devtools_.Call("Network.enable", "{}", session_, deadline, &ignored, why);
}

void BrowserBodies::Serve(Tick until) {
    JsonValue event;
    while (devtools_.NextEvent(until, &event)) {
        const JsonValue* session = event.Find("sessionId");
        const JsonValue* params = event.Find("params");
        if (params == nullptr || Text(session) != session_) continue;
        if (Text(event.Find("method")) != "Network.requestWillBeSent") {
            Answer(*params);
            continue;
        }
        // The parser asks for what the markup or a style sheet names, and for what markup a
        // script writes while the page is read; a script's own requests have no text.
        const std::string url = WithoutFragment(Text(params->Path({"request", "url"})));
        if (Text(params->Find("type")) != "Document" && askedBy_.count(url) == 0)
            askedBy_[url] = Text(params->Path({"initiator", "type"})) == "parser"
                                ? WithoutFragment(Text(params->Path({"initiator", "url"})))
                                : std::string();
    }
}

void BrowserBodies::Keep(const std::string& url, std::string body) {
    const std::string key = WithoutFragment(url);
    // A body kept already for the address is replaced.
    const auto kept = known_.count(key) == 0
                          ? bodies_.end()
                          : std::find_if(bodies_.begin(), bodies_.end(),
                                         [&](const auto& b) { return b.first == key; });
    if (kept != bodies_.end()) {
        if (body.size() > kept->second.size() &&
            body.size() - kept->second.size() > kMostBytes - bytes_)
            return;
        bytes_ = bytes_ - kept->second.size() + body.size();
        kept->second = std::move(body);
        return;
    }
    if (body.size() > kMostBytes - bytes_) return;
    bytes_ += body.size();
    known_.insert(key);
    bodies_.emplace_back(key, std::move(body));
}

void BrowserBodies::Answer(const JsonValue& paused) {
    const std::string id = Text(paused.Find("requestId"));
    const std::string url = Text(paused.Path({"request", "url"}));
    const bool atResponse = paused.Find("responseStatusCode") || paused.Find("responseErrorReason");
    const Tick by = Now() + kAnswerTime;
    JsonValue ignored;
    std::string why;
    if (!atResponse) {
        // The page itself comes from the save's own fetch, once; a frame goes to the network.
        if (text_ != nullptr && WithoutFragment(url) == pageUrl_) {
            const std::string headers =
                "[{\"name\":\"Content-Type\",\"value\":" + JsonQuote(contentType_) + "}]";
            devtools_.Call("Fetch.fulfillRequest",
                           "{\"requestId\":" + JsonQuote(id) +
                               ",\"responseCode\":200,\"responseHeaders\":" + headers +
                               ",\"body\":" + JsonQuote(pagesnap::Base64Encode(*text_)) + "}",
                           session_, by, &ignored, &why);
            text_ = nullptr;
            return;
        }
        devtools_.Call("Fetch.continueRequest",
                       "{\"requestId\":" + JsonQuote(id) + ",\"interceptResponse\":true}", session_,
                       by, &ignored, &why);
        return;
    }
    const JsonValue* status = paused.Find("responseStatusCode");
    const double code = status != nullptr && status->IsNumber() ? status->AsNumber() : 0;
    const long long length = DeclaredLength(paused.Find("responseHeaders"));
    if (code >= 200 && code < 300 && Text(paused.Path({"request", "method"})) == "GET" &&
        known_.count(WithoutFragment(url)) == 0 &&
        (length < 0 || static_cast<unsigned long long>(length) <= kMostBytes - bytes_))
        KeepBody(id, url);
    devtools_.Call("Fetch.continueRequest", "{\"requestId\":" + JsonQuote(id) + "}", session_, by,
                   &ignored, &why);
}

void BrowserBodies::KeepBody(const std::string& id, const std::string& url) {
    JsonValue body;
    std::string why;
    if (!devtools_.Call("Fetch.getResponseBody", "{\"requestId\":" + JsonQuote(id) + "}", session_,
                        Now() + kAnswerTime, &body, &why))
        return;
    const JsonValue* encoded = body.Find("base64Encoded");
    std::string bytes = Text(body.Find("body")), decoded;
    if (encoded != nullptr && encoded->AsBool()) {
        if (!pagesnap::Base64Decode(bytes, &decoded)) return;
        bytes.swap(decoded);
    }
    Keep(url, std::move(bytes));
}

}  // namespace qmsave
