#include "resolve.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/wait.h"
#include "stop.h"

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
    platform::HostAddress address;
};

platform::NetStatus LookUp(const char* name, platform::HostAddress* address, int timeLimitMs);

}  // namespace

bool ResolvedHosts::Find(const char* name, platform::HostAddress* address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = found_.find(name);
    if (found == found_.end()) return false;
    *address = found->second;
    return true;
}

void ResolvedHosts::Remember(const char* name, const platform::HostAddress& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    found_[name] = address;
}

platform::NetStatus ResolveHost(const char* name, platform::HostAddress* address, int timeLimitMs,
                                ResolvedHosts* known) {
    using platform::NetStatus;
    if (StopRequested()) return NetStatus::Stopped;
    if (known != nullptr && known->Find(name, address)) return NetStatus::Ok;
    NetStatus status = LookUp(name, address, timeLimitMs);
    if (status == NetStatus::Ok && known != nullptr) known->Remember(name, *address);
    return status;
}

namespace {

platform::NetStatus LookUp(const char* name, platform::HostAddress* address, int timeLimitMs) {
    using platform::NetStatus;
    // A literal address needs no resolver and returns at once.
    if (platform::IsAddressLiteral(name))
        return platform::LookupHostBlocking(name, address) ? NetStatus::Ok : NetStatus::Failed;

    auto lookup = std::make_shared<Lookup>();
    lookup->name = name;
    try {
        std::thread([lookup] {
            platform::HostAddress found;
            bool ok = platform::LookupHostBlocking(lookup->name.c_str(), &found);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->found = ok;
            lookup->address = found;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return NetStatus::Failed;
    }

    std::unique_lock<std::mutex> lock(lookup->mutex);
    NetStatus waited = platform::WaitInSlices(timeLimitMs, [&](int sliceMs) {
        bool finished = lookup->done.wait_for(lock, std::chrono::milliseconds(sliceMs),
                                              [&] { return lookup->finished; });
        return finished ? NetStatus::Ok : NetStatus::TimedOut;
    });
    if (waited != NetStatus::Ok) return waited;
    if (!lookup->found) return NetStatus::Failed;
    *address = lookup->address;
    return NetStatus::Ok;
}

}  // namespace

}  // namespace qm
