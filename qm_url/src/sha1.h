// SHA-1 (FIPS 180-4), the digest web archives name their records' contents by, and the
// base32 form (RFC 4648) they write it in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

class Sha1 {
public:
    static constexpr size_t kSize = 20;

    Sha1();
    void Update(const void* data, size_t length);
    // The digest of everything given; the object is spent afterwards.
    void Final(uint8_t (&digest)[kSize]);

private:
    void Block(const uint8_t* block);

    uint32_t state_[5];
    uint8_t pending_[64];
    size_t pendingLength_ = 0;
    uint64_t totalLength_ = 0;
};

// `data` in base32: upper-case letters and digits 2 to 7, padded with '=' to whole groups.
std::string Base32(const uint8_t* data, size_t length);

// "sha1:" and the base32 digest of what `hash` was given, as a WARC digest field holds it.
std::string WarcDigest(Sha1& hash);

}  // namespace qm
