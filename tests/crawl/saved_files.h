// What the crawl tests share: a private folder per test, the callback's reports, a stop
// from another thread, and the check that a saved page's references all lead somewhere.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qm_url.h"
#include "test_server.h"

namespace qmtest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, deleted with everything in it.
// A tag of this test process, for names that another process running at once must not share.
std::string RunTag();

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    // The sandbox path, in the library's form: `name` joined with a backslash.
    std::string Path(const std::string& name = "") const;
    const fs::path& Root() const { return root_; }

private:
    fs::path root_;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& text);

// Every regular file below `root`, relative to it, with '/' between folders, sorted.
std::vector<std::string> FilesBelow(const fs::path& root);

// The references of a saved page (src and href values, CSS url()) that are neither absolute
// addresses nor places in the page itself and do not name a saved file once decoded as a
// browser does. Empty when the page is sound.
std::vector<std::string> BrokenReferences(const fs::path& page);

// The host part of a local name for a server on loopback: "127.0.0.1-<port>".
std::string LocalHost(uint16_t port);

// What the callback of the running call reported, in order.
struct Report {
    int32_t index;
    PageRecord record;
};
std::vector<Report>& Reports();
void QM_CALLBACK RecordReport(int32_t index, const PageRecord* record);

// Calls qm_StopSave from another thread as soon as `server` is asked for `target` after
// this object was made.
class StopWhenRequested {
public:
    StopWhenRequested(const SiteServer& server, const std::string& target);
    ~StopWhenRequested();

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace qmtest
