// The media type a data: URL names for a saved file: by the extension its name was given,
// else by the first bytes of the file, else a plain stream of bytes.
#pragma once

#include <cstddef>

namespace qm {

const char* MediaTypeOf(const char* name, size_t nameLength, const char* head, size_t headLength);

}  // namespace qm
