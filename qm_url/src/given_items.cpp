#include "given_items.h"

#include <utility>

namespace qm {

bool GivenItems::Give(std::string url, std::string body) {
    std::lock_guard<std::mutex> held(lock_);
    if (body.size() > kMostBytes - bytes_ || bodies_.count(url) != 0) return false;
    bytes_ += body.size();
    bodies_.emplace(std::move(url), std::move(body));
    return true;
}

bool GivenItems::Take(const std::string& url, std::string* body) {
    std::lock_guard<std::mutex> held(lock_);
    auto found = bodies_.find(url);
    if (found == bodies_.end()) return false;
    bytes_ -= found->second.size();
    *body = std::move(found->second);
    bodies_.erase(found);
    return true;
}

}  // namespace qm
