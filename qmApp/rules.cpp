#include "rules.h"

#include <cstring>

#include "pagesnap_protocol.h"

namespace rules {

bool IsRefusedHttps(const char* url) {
    for (const char* scheme : {"https://", "Https://", "HTTPS://"}) {
        if (std::strncmp(url, scheme, 8) == 0) return true;
    }
    return false;
}

std::string WithHtmlEnding(std::string path) {
    constexpr char kHtml[] = ".html";
    constexpr size_t kLength = sizeof kHtml - 1;
    if (path.size() < kLength || path.compare(path.size() - kLength, kLength, kHtml) != 0)
        path += kHtml;
    return path;
}

bool MakeRendererJob(const std::string& url, const std::string& path, std::string* job) {
    std::string text = url + pagesnap::kJobSeparator + path + pagesnap::kJobSeparator;
    if (text.size() + 1 > pagesnap::kJobBlockSize) return false;
    *job = std::move(text);
    return true;
}

}  // namespace rules
