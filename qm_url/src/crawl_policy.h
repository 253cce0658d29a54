// What differs between the library's two crawls, saving pages with their items where their
// names say and saving the pictures of one page flat into a folder. The crawl loop asks its
// policy and knows nothing else of either.
#pragma once

#include <cstdint>

#include "names.h"
#include "qm_url.h"

namespace qm {

class CrawlState;
struct SaveContext;

class CrawlPolicy {
public:
    virtual ~CrawlPolicy() = default;

    // Whether an item of `kind` found at `depth` is to be saved, the budget aside.
    virtual bool Saves(PageKind kind, int32_t depth, bool sameSite,
                       const SaveOptions& options) const = 0;
    // Where the file of record `r` goes: `path` receives it. False when the record is skipped.
    virtual bool Place(const CrawlState& state, const PageRecord& r, const SaveOptions& options,
                       char (&path)[LOCAL_PATH_SIZE]) const = 0;
    // How the saved files are laid out in the save folder.
    virtual NameLayout Layout() const { return NameLayout::kFlat; }
    // Whether a skipped record is a failure: one no name could be made for.
    virtual bool SkipFails() const = 0;
    // Whether the saved pages stay for the user, and are mended where they name an item that
    // was not saved after all.
    virtual bool KeepsPages() const = 0;
    // Whether an item whose file exists from an earlier save is asked for again: a text the
    // crawl reads is fetched anew, anything else only if it changed since its file was
    // written. Otherwise such an item is kept as it is and neither fetched nor followed.
    virtual bool RefreshesSavedItems() const { return false; }

    // Before the first record is visited, and once the visit has ended (`stopped` when a stop
    // ended it).
    virtual void Begin(CrawlState&) const {}
    virtual void End(const SaveContext&, const CrawlState&, bool /*stopped*/) const {}
};

}  // namespace qm
