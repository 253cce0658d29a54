#include "base64.h"

namespace pagesnap {

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string Base64Encode(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

bool Base64Decode(const std::string& text, std::string* bytes) {
    if (text.size() % 4 != 0) return false;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int a = Sextet(text[i]), b = Sextet(text[i + 1]);
        if (a < 0 || b < 0) return false;
        int c, d;
        std::size_t produce = 3;
        if (last && text[i + 2] == '=') {
            if (text[i + 3] != '=') return false;
            c = d = 0;
            produce = 1;
        } else if (last && text[i + 3] == '=') {
            c = Sextet(text[i + 2]);
            d = 0;
            produce = 2;
        } else {
            c = Sextet(text[i + 2]);
            d = Sextet(text[i + 3]);
        }
        if (c < 0 || d < 0) return false;
        unsigned v = (static_cast<unsigned>(a) << 18) | (static_cast<unsigned>(b) << 12) |
                     (static_cast<unsigned>(c) << 6) | static_cast<unsigned>(d);
        out.push_back(static_cast<char>(v >> 16));
        if (produce > 1) out.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (produce > 2) out.push_back(static_cast<char>(v & 0xFF));
    }
    bytes->swap(out);
    return true;
}

}  // namespace pagesnap
