// Base64 as the browser sends pictures and as WebSocket keys are written.
#pragma once

#include <string>

namespace pagesnap {

std::string Base64Encode(const std::string& bytes);
// False on any character outside the alphabet or a malformed end; `bytes` is then unset.
bool Base64Decode(const std::string& text, std::string* bytes);

}  // namespace pagesnap
