#include "media_type.h"

#include <cstring>

#include "ascii.h"

namespace qm {
namespace {

struct ByExtension {
    const char* extension;
    const char* type;
};
constexpr ByExtension kByExtension[] = {
    {"png", "image/png"},         {"apng", "image/apng"},
    {"gif", "image/gif"},         {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},       {"jfif", "image/jpeg"},
    {"svg", "image/svg+xml"},     {"webp", "image/webp"},
    {"avif", "image/avif"},       {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},      {"cur", "image/x-icon"},
    {"woff", "font/woff"},        {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},          {"otf", "font/otf"},
    {"eot", "application/vnd.ms-fontobject"},
    {"css", "text/css"},          {"js", "text/javascript"},
    {"mjs", "text/javascript"},   {"json", "application/json"},
    {"html", "text/html"},        {"htm", "text/html"},
    {"xml", "application/xml"},   {"txt", "text/plain"},
    {"pdf", "application/pdf"},   {"mp4", "video/mp4"},
    {"webm", "video/webm"},       {"ogv", "video/ogg"},
    {"mp3", "audio/mpeg"},        {"ogg", "audio/ogg"},
    {"oga", "audio/ogg"},         {"wav", "audio/wav"},
    {"m4a", "audio/mp4"},         {"vtt", "text/vtt"},
};

struct BySignature {
    const char* bytes;
    size_t length;
    const char* type;
};
constexpr BySignature kBySignature[] = {
    {"\x89PNG", 4, "image/png"},  {"GIF8", 4, "image/gif"},   {"\xFF\xD8\xFF", 3, "image/jpeg"},
    {"<svg", 4, "image/svg+xml"}, {"wOFF", 4, "font/woff"},   {"wOF2", 4, "font/woff2"},
    {"%PDF", 4, "application/pdf"},
};

}  // namespace

const char* MediaTypeOf(const char* name, size_t nameLength, const char* head, size_t headLength) {
    size_t dot = nameLength;
    while (dot > 0 && name[dot - 1] != '.' && name[dot - 1] != '/' && name[dot - 1] != '\\') --dot;
    if (dot > 0 && name[dot - 1] == '.') {
        for (const ByExtension& e : kByExtension)
            if (IsWordNoCase(name + dot, nameLength - dot, e.extension)) return e.type;
    }
    for (const BySignature& s : kBySignature)
        if (headLength >= s.length && std::memcmp(head, s.bytes, s.length) == 0) return s.type;
    if (headLength >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return "image/webp";
    return "application/octet-stream";
}

}  // namespace qm
