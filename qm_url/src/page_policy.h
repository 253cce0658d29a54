// The crawl of qm_SavePages: the options choose what is saved, and every item goes to the
// file its name gives, in the layout the policy is made with.
#pragma once

#include "crawl_policy.h"

namespace qm {

class PagePolicy final : public CrawlPolicy {
public:
    explicit PagePolicy(NameLayout layout = NameLayout::kFlat, bool refresh = false)
        : layout_(layout),
          refresh_(refresh) {}

    bool Saves(PageKind kind, int32_t depth, bool sameSite,
               const SaveOptions& options) const override;
    bool Place(const CrawlState& state, const PageRecord& r, const SaveOptions& options,
               char (&path)[LOCAL_PATH_SIZE]) const override;
    bool SkipFails() const override { return false; }
    bool KeepsPages() const override { return true; }
    bool RefreshesSavedItems() const override { return refresh_; }
    NameLayout Layout() const override { return layout_; }

private:
    NameLayout layout_;
    bool refresh_;
};

}  // namespace qm
