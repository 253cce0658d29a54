#include "connection_pool.h"

namespace qm {

std::string ConnectionKey(bool secure, const char* hostName, int port) {
    std::string key = secure ? "https://" : "http://";
    key += hostName;
    key += ':';
    key += std::to_string(port);
    return key;
}

}  // namespace qm
