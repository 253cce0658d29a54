// The crawl of qm_SavePages: the options choose what is saved, and every item goes to the
// file its name gives, in the layout the policy is made with.
#pragma once

#include "crawl_policy.h"

namespace qm {

class PagePolicy final : public CrawlPolicy {
public:
    explicit PagePolicy(NameLayout layout = NameLayout::kFlat) : layout_(layout) {}

    bool Saves(PageKind kind, int32_t depth, bool sameSite,
               const SaveOptions& options) const override;
    bool Place(const CrawlState& state, const PageRecord& r, const SaveOptions& options,
               char (&path)[LOCAL_PATH_SIZE]) const override;
    bool SkipFails() const override { return false; }
    bool KeepsPages() const override { return true; }
    NameLayout Layout() const override { return layout_; }

private:
    NameLayout layout_;
};

}  // namespace qm
