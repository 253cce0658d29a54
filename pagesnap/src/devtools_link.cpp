#include "devtools_link.h"

namespace pagesnap {

DevToolsLink::DevToolsLink() = default;
DevToolsLink::~DevToolsLink() { Close(); }

bool DevToolsLink::Connect(int port, Tick deadline, std::string* why) {
    Close();
    if (int error = BeginConnect(port)) {
        *why = "could not reach the browser's DevTools port: " + ErrorText(error);
        return false;
    }
    if (!Wait(true, deadline)) {
        *why = "the browser's DevTools port did not answer";
        return false;
    }
    if (int error = ConnectError()) {
        *why = "could not reach the browser's DevTools port: " + ErrorText(error);
        return false;
    }
    return true;
}

bool DevToolsLink::SendAll(const std::string& bytes, Tick deadline, std::string* why) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!Wait(true, deadline)) {
            *why = "the browser did not take what was sent in time";
            return false;
        }
        const long n = SendSome(bytes.data() + sent, bytes.size() - sent);
        if (n < 0) {
            *why = "the DevTools connection broke while sending";
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool DevToolsLink::Receive(char* buffer, std::size_t capacity, Tick deadline, std::size_t* received,
                           std::string* why) {
    for (;;) {
        if (!Wait(false, deadline)) {
            *why = "the browser did not answer in time";
            return false;
        }
        const long n = ReceiveSome(buffer, capacity);
        if (n < 0) {
            *why = "the DevTools connection broke";
            return false;
        }
        if (n > 0) {
            *received = static_cast<std::size_t>(n);
            return true;
        }
    }
}

}  // namespace pagesnap
