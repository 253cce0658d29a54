// The crawl of qm_SavePictures: the pictures of one page saved flat into a folder, with the
// page and its frames and style sheets kept in a temporary folder that goes at the end
// (without holding up a stopped call: it is renamed and deleted in the background).
#pragma once

#include <cstdint>

#include "crawl_policy.h"
#include "crawl_state.h"
#include "folder_remover.h"

namespace qm {

class PicturePolicy final : public CrawlPolicy {
public:
    // The temporary folders go through `remover`, which may outlive the call.
    explicit PicturePolicy(FolderRemover& remover) : remover_(remover) {}

    bool Saves(PageKind kind, int32_t depth, bool sameSite,
               const SaveOptions& options) const override;
    bool Place(const CrawlState& state, const PageRecord& r, const SaveOptions& options,
               char (&path)[LOCAL_PATH_SIZE]) const override;
    bool SkipFails() const override { return true; }
    bool KeepsPages() const override { return false; }
    // Chooses the temporary folder, and discards it.
    void Begin(CrawlState& state) const override;
    void End(const SaveContext& context, const CrawlState& state, bool stopped) const override;

private:
    FolderRemover& remover_;
};

// Modes of AdjustPicturePath.
constexpr int32_t kFlattenPicture =
    1;  // folder\http-\host\dir\a.gif -> folder\http--host-dir-a.gif
constexpr int32_t kIntoTempFolder = 2;  // folder\name -> folder\temp\name

// Rewrites the record path `localPath` (LOCAL_PATH_SIZE bytes, `length` characters) for
// the picture crawl of `state`, whose save folder and temporary folder it uses. 1 on
// success; 0, with the path unchanged, when it has not the form the mode needs or would not
// fit.
int32_t AdjustPicturePath(const CrawlState& state, char* localPath, int32_t length, int32_t mode);

}  // namespace qm
