// The fixed areas a request is written into, and the most of a URL a request may use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// The whole request text and its NUL. Its own lines take at most about 900 bytes; the rest
// is room for the Cookie line, up to the 8 KiB that servers take in a request's header.
constexpr size_t kRequestTextSize = 8192;
constexpr size_t kHostNameSize = 256;  // the host part: 255 characters and a NUL
constexpr size_t kPathSize = 256;      // the path, and the referer copy
constexpr int32_t kLongestUrl = 1024;  // the most URL characters a request may use
// The most of the system store's cookies for one URL that is read: more than a request holds.
constexpr size_t kStoredCookiesSize = 64 * 1024;

}  // namespace qm
