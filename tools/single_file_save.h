// qmsave's --single-file: the save goes into a temporary folder beside FILE as usual, then
// each page it saved is written as one file that needs nothing else, where the folder had it
// (the start page as FILE), so that links between saved pages lead to those files. Other
// linked files are moved there as they are. The folder is deleted at the end.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qmsave {

// The largest single file written (256 MiB): a larger one is refused.
constexpr int64_t kMostSingleFileBytes = 268435456;

class SingleFileSave {
public:
    SingleFileSave() = default;
    ~SingleFileSave();
    SingleFileSave(const SingleFileSave&) = delete;
    SingleFileSave& operator=(const SingleFileSave&) = delete;

    // Makes the temporary folder beside `target` (this system's spelling). False when it
    // cannot be made.
    bool Begin(const std::string& target);
    // Where the save writes its start page.
    const std::string& savePath() const { return savePath_; }
    // A page (or other linked file) the save wrote from `url`, as the library names it.
    void PageSaved(const char* localPath, const char* url) {
        pages_.push_back(localPath);
        urls_[localPath] = url;
    }
    // What the page at `pageUrl` had its scripts load by names they make, as the browser
    // received it (address and bytes): its single file hands it to them. False when it
    // cannot be kept.
    bool ScriptLoads(const std::string& pageUrl,
                     const std::vector<std::pair<std::string, std::string>>& bodies);

    // Writes the single files; each that cannot be written is told on standard error.
    // Whether the start page's was written, and how many others were not.
    struct Outcome {
        bool startPage = false;
        int failed = 0;
    };
    Outcome Write();

private:
    std::string target_, folder_, savePath_;
    std::vector<std::string> pages_;
    std::map<std::string, std::string> urls_;  // of the pages, by local path
    // Of each page's address, the names its scripts make and the files holding their bodies.
    struct Load {
        std::string name, file;
    };
    std::map<std::string, std::vector<Load>> loads_;
    int loadFiles_ = 0;
};

}  // namespace qmsave
