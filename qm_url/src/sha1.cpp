#include "sha1.h"

#include <algorithm>
#include <cstring>

namespace qm {
namespace {

uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Sha1::Sha1() : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void Sha1::Block(const uint8_t* block) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 |
               uint32_t{block[4 * i + 2]} << 8 | uint32_t{block[4 * i + 3]};
    for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const uint32_t t = Rotate(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = Rotate(b, 30);
        b = a;
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

void Sha1::Update(const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    totalLength_ += length;
    while (length > 0) {
        const size_t n = std::min(length, sizeof pending_ - pendingLength_);
        std::memcpy(pending_ + pendingLength_, p, n);
        pendingLength_ += n;
        p += n;
        length -= n;
        if (pendingLength_ == sizeof pending_) {
            Block(pending_);
            pendingLength_ = 0;
        }
    }
}

void Sha1::Final(uint8_t (&digest)[kSize]) {
    const uint64_t bits = totalLength_ * 8;
    const uint8_t one = 0x80, zero = 0;
    Update(&one, 1);
    while (pendingLength_ != 56) Update(&zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(length, sizeof length);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<uint8_t>(state_[i] >> (24 - 8 * j));
}

std::string Base32(const uint8_t* data, size_t length) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < length; ++i) {
        bits = (bits << 8) | data[i];
        count += 8;
        while (count >= 5) {
            out += kDigits[(bits >> (count - 5)) & 31];
            count -= 5;
        }
    }
    if (count > 0) out += kDigits[(bits << (5 - count)) & 31];
    while (out.size() % 8 != 0) out += '=';
    return out;
}

std::string WarcDigest(Sha1& hash) {
    uint8_t digest[Sha1::kSize];
    hash.Final(digest);
    return "sha1:" + Base32(digest, sizeof digest);
}

}  // namespace qm
