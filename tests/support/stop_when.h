// A stop asked from another thread once a condition holds, as a user presses Stop mid-save.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qm_url.h"
#include "scratch.h"
#include "test_server.h"

namespace qmtest {

// Calls qm_StopSave once `asked` holds, polled against a deadline; never after this goes.
class StopWhen {
public:
    explicit StopWhen(std::function<bool()> asked)
        : thread_([this, asked] {
              if (WaitUntil([&] { return done_ || asked(); }) && !done_) qm_StopSave();
          }) {}
    ~StopWhen() {
        done_ = true;
        thread_.join();
    }
    StopWhen(const StopWhen&) = delete;
    StopWhen& operator=(const StopWhen&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Stops the save once `server` is asked for `target` from now on.
struct StopWhenRequested : StopWhen {
    StopWhenRequested(const TestServer& server, const std::string& target)
        : StopWhen([&server, target, before = server.Log().size()] {
              std::vector<std::string> asked = server.RequestedTargets(before);
              return std::find(asked.begin(), asked.end(), target) != asked.end();
          }) {}
};

}  // namespace qmtest
