// Resolving a reference against a page and naming the file it is saved under, for every kind
// of item in either layout: the URL fits and is http or https, every local path fits its
// size and lies inside the save folder, and the reference from one name to another leads
// there.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "names.h"
#include "url.h"

namespace {

// True when no folder of `path` (backslash-separated) is "." or "..", and nothing in it
// names a drive or an absolute place. (A name may end in a backslash: it then names no
// file, and writing it fails.)
bool StaysInside(const std::string& path) {
    if (path.empty() || path[0] == '\\' || path.find(':') != std::string::npos ||
        path.find('/') != std::string::npos)
        return false;
    size_t start = 0;
    for (size_t end; start <= path.size(); start = end + 1) {
        end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "." || part == "..") return false;
    }
    return true;
}

// `relative`, read from the folder of `from` as a browser reads it, names `to`.
bool LeadsTo(const std::string& from, const std::string& relative, const std::string& to) {
    std::string path = from.substr(0, from.rfind('\\') + 1);
    if (from.find('\\') == std::string::npos) path.clear();
    size_t start = 0;
    for (size_t end; start <= relative.size(); start = end + 1) {
        end = relative.find('\\', start);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        if (part == "..") {
            if (path.empty()) return false;
            path.pop_back();
            path.erase(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\') + 1);
        } else {
            path += part;
            if (end < relative.size()) path += '\\';
        }
    }
    return path == to;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The page URL, a NUL, then the reference as it stood on the page.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    if (cut == std::string::npos || cut >= URL_TEXT_SIZE) return 0;
    const std::string base = input.substr(0, cut), reference = input.substr(cut + 1);

    char url[URL_TEXT_SIZE];
    std::memset(url, 0x7f, sizeof url);
    if (!qm::ResolveUrl(base.c_str(), reference.data(), reference.size(), url)) return 0;
    const bool https = std::strncmp(url, "https://", 8) == 0;
    if (strnlen(url, URL_TEXT_SIZE) == URL_TEXT_SIZE ||
        (!https && std::strncmp(url, "http://", 7) != 0))
        std::abort();

    const char folder[] = "C:\\save\\";
    std::string previous, relative;
    const size_t length = std::strlen(url);
    for (int k = 0; k < 2 * KIND_MEDIA; ++k) {
        const PageKind kind = static_cast<PageKind>(KIND_PAGE + k / 2);
        const qm::NameLayout layout = k % 2 ? qm::NameLayout::kSiteTree : qm::NameLayout::kFlat;
        char name[LOCAL_PATH_SIZE + 1], path[LOCAL_PATH_SIZE + 1];
        name[LOCAL_PATH_SIZE] = path[LOCAL_PATH_SIZE] = '\x7f';
        const size_t n = qm::MakeLocalName(url, length, kind, layout, name, LOCAL_PATH_SIZE);
        if (n == 0) continue;
        if (name[LOCAL_PATH_SIZE] != '\x7f' || strnlen(name, LOCAL_PATH_SIZE) == LOCAL_PATH_SIZE)
            std::abort();
        if (std::strncmp(name, https ? "https-" : "http-", https ? 6 : 5) != 0 ||
            !StaysInside(name))
            std::abort();
        // A reference between two saved items leads from the one to the other.
        if (!previous.empty()) {
            qm::RelativeName(previous, name, &relative);
            if (!LeadsTo(previous, relative, name)) std::abort();
        }
        previous = name;
        if (!qm::JoinSaveFolder(folder, name, path, LOCAL_PATH_SIZE)) continue;
        if (path[LOCAL_PATH_SIZE] != '\x7f' || std::strncmp(path, folder, sizeof folder - 1) != 0 ||
            !StaysInside(path + sizeof folder - 1))
            std::abort();
    }
    return 0;
}
