#include "resolve.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

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

}  // namespace

platform::NetStatus ResolveHost(const char* name, platform::HostAddress* address,
                                int timeLimitMs) {
    using platform::NetStatus;
    if (StopRequested()) return NetStatus::Stopped;
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

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished) {
        if (StopRequested()) return NetStatus::Stopped;
        if (std::chrono::steady_clock::now() >= deadline) return NetStatus::TimedOut;
        lookup->done.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs));
    }
    if (!lookup->found) return NetStatus::Failed;
    *address = lookup->address;
    return NetStatus::Ok;
}

}  // namespace qm
