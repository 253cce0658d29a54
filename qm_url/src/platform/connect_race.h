// How the addresses of a host race to connect, the same on every system: each attempt runs
// alone for kConnectHeadStartMs, then the next address starts beside it, and an attempt that
// fails lets the next one start at once (RFC 8305). The first to connect wins; the others
// are closed. Included by the socket file of each system after its own socket headers.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/socket.h"
#include "platform/socket_address.h"
#include "platform/wait.h"

namespace qm::platform {

// What became of a connection attempt during one wait.
enum class Attempt { kPending, kConnected, kFailed };

// `System` names its socket type `Socket` and gives:
//  - bool Start(const sockaddr_storage& to, int size, Socket*, bool* connected): starts a
//    connection to `to` without waiting; false when it failed at once; sets *connected when
//    it needs no wait;
//  - bool Wait(const std::vector<Socket>&, int ms, std::vector<Attempt>*): waits up to `ms`
//    for any of the attempts, then tells what became of each; false when the wait failed;
//  - void Close(Socket).
// At most `most` attempts run at once. On Ok, *winner is the connected socket.
template <typename System>
NetStatus RaceToConnect(System& system, const HostAddresses& addresses, uint16_t port,
                        const WaitLimit& limit, size_t most, typename System::Socket* winner) {
    using Clock = std::chrono::steady_clock;
    using Socket = typename System::Socket;
    std::vector<Socket> attempts;
    std::vector<Attempt> outcomes;
    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    NetStatus status = WaitInSlices(limit, [&](int sliceMs) {
        // The next address, when the last one started has had its head start, or failed.
        while (next < addresses.size() && attempts.size() < most &&
               (attempts.empty() || Clock::now() >= nextStart)) {
            sockaddr_storage to;
            const int size = ToSocketAddress(addresses[next++], port, &to);
            bool connected = false;
            Socket s{};
            if (!system.Start(to, size, &s, &connected)) continue;
            if (connected) {
                *winner = s;
                return NetStatus::Ok;
            }
            attempts.push_back(s);
            nextStart = Clock::now() + std::chrono::milliseconds(kConnectHeadStartMs);
        }
        if (attempts.empty()) return NetStatus::Failed;  // every address refused
        long long waitMs = sliceMs;
        if (next < addresses.size())
            waitMs = std::clamp<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(nextStart - Clock::now())
                    .count(),
                0, waitMs);
        outcomes.assign(attempts.size(), Attempt::kPending);
        if (!system.Wait(attempts, static_cast<int>(waitMs), &outcomes)) return NetStatus::Failed;
        for (size_t i = 0; i < attempts.size(); ++i) {
            if (outcomes[i] == Attempt::kConnected) {
                *winner = attempts[i];
                attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
                return NetStatus::Ok;
            }
        }
        size_t kept = 0;
        for (size_t i = 0; i < attempts.size(); ++i) {
            if (outcomes[i] == Attempt::kFailed) {
                system.Close(attempts[i]);
                nextStart = Clock::now();  // a failure lets the next address start at once
            } else {
                attempts[kept++] = attempts[i];
            }
        }
        attempts.resize(kept);
        return NetStatus::TimedOut;
    });
    for (Socket s : attempts) system.Close(s);
    return status;
}

}  // namespace qm::platform
