#include "resolve.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/wait.h"

namespace qm {
namespace {

// Shared by the caller and the lookup thread; whichever lets go last frees it, so a caller
// that gives up may return at once.
struct Lookup {
    std::string name;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    platform::HostAddresses addresses;
};

platform::NetStatus LookUp(const char* name, platform::HostAddresses* addresses,
                           const WaitLimit& limit);

}  // namespace

bool ResolvedHosts::Find(const char* name, platform::HostAddresses* addresses) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = found_.find(name);
    if (found == found_.end()) return false;
    *addresses = found->second;
    return true;
}

void ResolvedHosts::Remember(const char* name, const platform::HostAddresses& addresses) {
    std::lock_guard<std::mutex> lock(mutex_);
    found_[name] = addresses;
}

void InterleaveFamilies(platform::HostAddresses* addresses) {
    if (addresses->empty()) return;
    const bool firstV6 = addresses->front().v6;
    platform::HostAddresses first, second, turns;
    for (const platform::HostAddress& a : *addresses) (a.v6 == firstV6 ? first : second).push_back(a);
    for (size_t i = 0; i < first.size() || i < second.size(); ++i) {
        if (i < first.size()) turns.push_back(first[i]);
        if (i < second.size()) turns.push_back(second[i]);
    }
    addresses->swap(turns);
}

platform::NetStatus ResolveHost(const char* name, platform::HostAddresses* addresses,
                                const WaitLimit& limit, ResolvedHosts* known) {
    using platform::NetStatus;
    if (limit.stop.requested()) return NetStatus::Stopped;
    if (known != nullptr && known->Find(name, addresses)) return NetStatus::Ok;
    NetStatus status = LookUp(name, addresses, limit);
    if (status != NetStatus::Ok) return status;
    InterleaveFamilies(addresses);
    if (known != nullptr) known->Remember(name, *addresses);
    return status;
}

namespace {

platform::NetStatus LookUp(const char* name, platform::HostAddresses* addresses,
                           const WaitLimit& limit) {
    using platform::NetStatus;
    // A literal address needs no resolver and returns at once.
    if (platform::IsAddressLiteral(name))
        return platform::LookupHostBlocking(name, addresses) ? NetStatus::Ok : NetStatus::Failed;

    auto lookup = std::make_shared<Lookup>();
    lookup->name = name;
    try {
        std::thread([lookup] {
            platform::HostAddresses found;
            bool ok = platform::LookupHostBlocking(lookup->name.c_str(), &found);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->found = ok;
            lookup->addresses = std::move(found);
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return NetStatus::Failed;
    }

    std::unique_lock<std::mutex> lock(lookup->mutex);
    NetStatus waited = platform::WaitInSlices(limit, [&](int sliceMs) {
        bool finished = lookup->done.wait_for(lock, std::chrono::milliseconds(sliceMs),
                                              [&] { return lookup->finished; });
        return finished ? NetStatus::Ok : NetStatus::TimedOut;
    });
    if (waited != NetStatus::Ok) return waited;
    if (!lookup->found) return NetStatus::Failed;
    *addresses = lookup->addresses;
    return NetStatus::Ok;
}

}  // namespace

}  // namespace qm
