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

}  // namespace qm
