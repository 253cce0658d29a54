// Coded bodies for tests: compressed with zlib's own deflate, and in chunks.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace qmtest {

enum class Wrapper { Gzip, Zlib, Raw };

inline std::string Compress(const std::string& text, Wrapper wrapper) {
    z_stream s{};
    int bits = wrapper == Wrapper::Gzip ? 15 + 16 : wrapper == Wrapper::Zlib ? 15 : -15;
    if (deflateInit2(&s, 6, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&s, static_cast<uLong>(text.size())), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    s.avail_in = static_cast<uInt>(text.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// `body` in chunks of at most `piece` bytes, then the last chunk.
inline std::string Chunked(const std::string& body, size_t piece) {
    std::string chunked;
    for (size_t at = 0; at < body.size(); at += piece) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", std::min(piece, body.size() - at));
        chunked += size + body.substr(at, piece) + "\r\n";
    }
    return chunked + "0\r\n\r\n";
}

// Text that looks like a page and does not compress to nothing.
inline std::string SampleText(size_t size) {
    std::string text;
    for (unsigned seed = 12345; text.size() < size;) {
        seed = seed * 1103515245u + 12345u;
        text += "<p>saves the <a href=\"x\">page</a> " + std::to_string(seed % 100000) + "</p>\n";
    }
    return text.substr(0, size);
}

}  // namespace qmtest
