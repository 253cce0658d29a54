#include "crawl.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "ascii.h"
#include "crawl_policy.h"
#include "fetch.h"
#include "fetch_ahead.h"
#include "http_date.h"
#include "leading_page.h"
#include "names.h"
#include "page_offer.h"
#include "platform/files.h"
#include "save_context.h"
#include "scan.h"
#include "url.h"

namespace qm {
namespace {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

// Bodies fetched ahead and waiting for their turn are held up to this many bytes in all.
constexpr size_t kHeldBodiesLimit = size_t{64} << 20;
// Fetches running at once, over every host: two hosts' worth of connections, so that the
// items of a page spread over a few hosts come in side by side.
constexpr int kFetchWorkers = 2 * kMostConnectionsPerHost;
// A body larger than this goes into a temporary file beside its own as it arrives, so that
// the bodies in memory stay few megabytes whatever the items' sizes.
constexpr size_t kBodyInMemory = size_t{1} << 20;
// How many records of the queue after the one visited are asked for ahead.
constexpr int kPlanWindow = 64;

// What the visit of a record does.
enum class Visit {
    kSkip,     // an option skips it, or a picture save has no name for it
    kPresent,  // its file exists: it was saved before, and is neither fetched nor followed
    kRefresh,  // its file exists, and it is fetched only if it changed since
    kFetch,
};

// The fetch of a record: its URL, with the page it was found on as Referer, into the file at
// `localPath`; for a refresh, asked for only if it changed since that file was written.
PlannedFetch FetchOf(const PageRecord& r, const char* localPath, Visit visit) {
    PlannedFetch fetch{r.url, r.referer, localPath, std::string()};
    if (visit == Visit::kRefresh)
        fetch.ifModifiedSince = HttpDate(platform::FileWrittenAt(localPath));
    return fetch;
}

// The network side of a crawl: the items of the queue fetched ahead of their visit, in queue
// order, over the connections and with the cookies of the call's context. The visit takes
// each body in turn.
class CrawlNetwork {
public:
    // Each item may take up to `budgetBytes`.
    CrawlNetwork(SaveContext& context, int64_t budgetBytes)
        : budgetBytes_(budgetBytes),
          context_(context),
          ahead_([this](const PlannedFetch& item, const StopToken& stop,
                        FetchedBody* out) { Fetch(item, stop, out); },
                 kFetchWorkers, kMostConnectionsPerHost, kHeldBodiesLimit, context.stop) {}

    // Asks for the records after the current one that the crawl will fetch, as far as the
    // window reaches; `judge` tells what the visit of a record does, and into which file.
    template <typename Judge>
    void PlanAhead(CrawlState& state, int32_t maxDepth, Judge judge) {
        std::vector<PlannedFetch> next;
        int32_t index = state.current().next;
        for (int n = 0; n < kPlanWindow && index != NO_RECORD; ++n) {
            const PageRecord& r = state.record(index);
            if (static_cast<int32_t>(r.depth) > maxDepth) break;  // the crawl ends there
            if (static_cast<size_t>(index) >= verdicts_.size()) {
                verdicts_.resize(index + 1u);
                fetches_.resize(index + 1u);
            }
            std::optional<Visit>& verdict = verdicts_[static_cast<size_t>(index)];
            PlannedFetch& fetch = fetches_[static_cast<size_t>(index)];
            if (!verdict) {
                char judged[LOCAL_PATH_SIZE];
                verdict = judge(r, judged);
                if (*verdict == Visit::kFetch || *verdict == Visit::kRefresh)
                    fetch = FetchOf(r, judged, *verdict);
            }
            if (*verdict == Visit::kFetch || *verdict == Visit::kRefresh) next.push_back(fetch);
            index = r.next;
        }
        ahead_.Plan(next);
    }

    // The current record's body, and the URL it came from after redirects.
    void Take(const PageRecord& r, Visit visit, FetchedBody* out) {
        ahead_.Take(FetchOf(r, r.localPath, visit), out);
    }
    // The current record will not be fetched: a body fetched ahead for it is thrown away.
    void Pass(const PageRecord& r) { ahead_.Discard(r.url); }
    // The record's number is free again: the next record given it is judged afresh.
    void Forget(int32_t index) {
        if (static_cast<size_t>(index) < verdicts_.size())
            verdicts_[static_cast<size_t>(index)].reset();
    }

private:
    void Fetch(const PlannedFetch& item, const StopToken& stop, FetchedBody* out) {
        UrlRequest request = {};
        request.url = item.url.c_str();
        request.urlLength = static_cast<int32_t>(item.url.size());
        request.referer = item.referer.c_str();
        request.refererLength = static_cast<int32_t>(item.referer.size());
        char finalUrl[URL_TEXT_SIZE] = {};
        out->body = BodySink(kBodyInMemory, item.localPath, budgetBytes_, budgetBytes_);
        out->body.MakeFolders();
        // A body the caller already had stands for the item's fetch.
        std::string given;
        if (context_.given.Take(item.url, &given)) {
            out->result =
                out->body.Put(given.data(), given.size()) ? FetchResult() : out->body.failure();
            out->finalUrl = item.url;
            return;
        }
        ResponseFacts facts;
        facts.ifModifiedSince = item.ifModifiedSince;
        out->result =
            FetchFollowing(request, &out->body, finalUrl, &context_.pool, DefaultFetchLimits(stop),
                           &context_.jar, context_.archive, &facts);
        out->finalUrl = finalUrl;
        out->lastModified = facts.lastModified;
        out->contentType = facts.contentType;
    }

    const int64_t budgetBytes_;
    SaveContext& context_;
    FetchAhead ahead_;
    std::vector<std::optional<Visit>> verdicts_;  // per record, once judged
    std::vector<PlannedFetch> fetches_;           // per record judged to be fetched: its fetch
};

// The item in hand when a stop came: it is not written, and it is reported so.
CrawlOutcome Stopped(const SaveContext& context, const CrawlState& state, const PageRecord& r) {
    context.failures.Report(state.currentIndex, &r, r.url, FetchStatus::kStopped);
    return CrawlOutcome::kStopped;
}

bool EndsWithNoCase(const char* s, const char* suffix) {
    size_t n = std::strlen(s), k = std::strlen(suffix);
    return n >= k && EqualNoCase(s + n - k, suffix, k);
}

// Whether the text of a fetched item is scanned, and as what. The start page always is;
// a link or frame only when its name says it may hold a page; a script only for the files
// it names: the pictures, when pictures are saved, and what it loads where the site's layout
// is kept.
bool ScanKindOf(const PageRecord& r, bool startPage, const SaveOptions& options, NameLayout layout,
                TextKind* kind) {
    *kind = TextKind::kHtml;
    if (r.kind == KIND_STYLE_SHEET) {
        *kind = TextKind::kStyleSheet;
        return true;
    }
    if (r.kind == KIND_SCRIPT) {
        *kind = TextKind::kScript;
        return options.savePictures != 0 || layout == NameLayout::kSiteTree;
    }
    if (r.kind != KIND_PAGE && r.kind != KIND_FRAME) return false;
    if (startPage) return true;
    for (const char* ext : {".html", ".htm", ".xhtml", ".shtml"})
        if (EndsWithNoCase(r.localPath, ext)) return true;
    return false;
}

// What the visit of record `r` does, and the path its file has: `localPath` receives the
// record's path as the crawl's policy places it. A start page in the site's tree is fetched
// anew whatever an earlier save left there, as the file the caller names is.
Visit JudgeVisit(const CrawlState& state, const PageRecord& r, bool startPage,
                 const SaveOptions& options, char (&localPath)[LOCAL_PATH_SIZE]) {
    if (!state.policy->Place(state, r, options, localPath)) return Visit::kSkip;
    if (startPage && !state.leadingPage.empty()) return Visit::kFetch;
    if (!platform::FileExists(localPath)) return Visit::kFetch;
    if (!state.policy->RefreshesSavedItems()) return Visit::kPresent;
    // A text the crawl reads is read anew: its saved file has its references rewritten.
    TextKind kind;
    return ScanKindOf(r, startPage, options, state.policy->Layout(), &kind) ? Visit::kFetch
                                                                            : Visit::kRefresh;
}

// The name of the page at `url` in the site's tree, claimed, and its path: false when none
// fits beside the save folder.
bool PlaceInTree(CrawlState& state, const char* url, std::string* name,
                 char (&path)[LOCAL_PATH_SIZE]) {
    const size_t folderLength = std::strlen(state.saveFolder);
    const size_t room = LOCAL_PATH_SIZE - folderLength - (folderLength > 0 ? 1 : 0);
    char made[LOCAL_PATH_SIZE];
    size_t length =
        MakeLocalName(url, std::strlen(url), KIND_PAGE, NameLayout::kSiteTree, made, room);
    if (length == 0 || !state.names.Claim(made, &length, room, url) ||
        JoinSaveFolder(state.saveFolder, folderLength, made, length, path, sizeof path) == 0)
        return false;
    name->assign(made, length);
    return true;
}

// A start page in the site's tree that came from another address than the one asked for
// stands where it came from, so that the paths it makes relative to its address lead where
// they led online (a folder asked for without its '/' is that folder's index page); the
// address asked for names the same file. Where no name fits, it stays where it was.
void MoveStartPage(CrawlState& state, PageRecord& r) {
    const size_t length = std::strlen(r.url);
    uint32_t hash;
    if (state.FindUrl(r.url, length, &hash) >= 0) return;
    std::string name;
    char path[LOCAL_PATH_SIZE];
    if (!PlaceInTree(state, r.url, &name, path)) return;
    const int32_t arrived = state.AddUrl(r.url, length, hash);
    state.SetLocalName(arrived, name);
    state.SetLocalName(state.startEntry, name);
    state.startEntry = arrived;
    std::memset(r.localPath, 0, sizeof r.localPath);
    std::memcpy(r.localPath, path, std::strlen(path));
}

// One visit of a crawl's queue, from record 0 until it is exhausted, the depth stop, the byte
// budget or a stop. The items ahead are fetched meanwhile (a body fetched and not needed is
// thrown away); each is reported, scanned and written here, in queue order.
class QueueVisit {
public:
    QueueVisit(SaveContext& context, CrawlState& state, const SaveOptions& options,
               SavePageCallback callback, char* scratch)
        : context_(context),
          state_(state),
          options_(options),
          callback_(callback),
          scratch_(scratch),
          network_(context, state.budget.itemBytes) {}

    CrawlOutcome Run();

private:
    // What became of the body fetched for a record. A record refreshed keeps its file
    // (kSaved) when the server says it has not changed, and when the fetch fails.
    enum class Written { kSaved, kFailed, kStopped, kBudgetEnd };

    Written WriteFetched(PageRecord& r, Visit visit, bool startPage, bool guessed);

    SaveContext& context_;
    CrawlState& state_;
    const SaveOptions& options_;
    SavePageCallback callback_;
    char* scratch_;
    CrawlNetwork network_;
    std::vector<LocalSpot> spots_;
};

CrawlOutcome QueueVisit::Run() {
    CrawlOutcome outcome = CrawlOutcome::kDone;
    bool startPage = true;  // the first record visited is the start page
    while (state_.currentIndex >= 0) {
        if (context_.stop.requested()) return CrawlOutcome::kStopped;
        PageRecord& r = state_.current();
        if (static_cast<int32_t>(r.depth) > options_.maxDepth) break;
        if (!state_.BytesLeft(r.url)) break;
        int32_t entry = state_.entryOf(state_.currentIndex);
        network_.PlanAhead(state_, options_.maxDepth,
                           [&](const PageRecord& ahead, char(&path)[LOCAL_PATH_SIZE]) {
                               return JudgeVisit(state_, ahead, false, options_, path);
                           });

        char path[LOCAL_PATH_SIZE];
        const Visit visit = JudgeVisit(state_, r, startPage, options_, path);
        if (visit != Visit::kSkip) std::memcpy(r.localPath, path, sizeof path);
        UrlFate fate = UrlFate::kFailed;
        if (visit == Visit::kFetch || visit == Visit::kRefresh) {
            switch (WriteFetched(r, visit, startPage, entry >= 0 && state_.entry(entry).guessed)) {
                case Written::kSaved: fate = UrlFate::kSaved; break;
                case Written::kFailed: break;
                case Written::kStopped: return Stopped(context_, state_, r);
                case Written::kBudgetEnd: return outcome;
            }
        } else {
            if (visit == Visit::kPresent) fate = UrlFate::kSaved;
            network_.Pass(r);
            // An item for which the policy could make no file name.
            if (visit == Visit::kSkip && state_.policy->SkipFails())
                context_.failures.Report(state_.currentIndex, &r, r.url, FetchStatus::kWriteFailed);
        }
        if (entry >= 0) state_.entry(entry).fate = fate;
        // The address a start page came from, where it differs from the one asked for.
        if (startPage && state_.startEntry >= 0) state_.entry(state_.startEntry).fate = fate;
        // Without its start page a save has nothing to show: the caller must not be told
        // it completed. A later item that fails is left out and reported, and the save goes on.
        if (startPage && fate != UrlFate::kSaved &&
            (visit != Visit::kSkip || state_.policy->SkipFails()))
            outcome = CrawlOutcome::kStartPageFailed;
        startPage = false;
        int32_t next = r.next;  // read after the scan, which may have queued items behind r
        network_.Forget(state_.currentIndex);
        state_.Release(state_.currentIndex);
        state_.currentIndex = next;
    }
    return outcome;
}

// Takes the body fetched for `r` and writes its file: scanned and rewritten when the crawl
// reads such a text, as it came otherwise. A failure is reported, unless the item's address
// was only `guessed` from a script.
QueueVisit::Written QueueVisit::WriteFetched(PageRecord& r, Visit visit, bool startPage,
                                             bool guessed) {
    FetchedBody fetched;
    network_.Take(r, visit, &fetched);
    // A fetch cut short by a stop may have only part of the body: it is not kept.
    if (context_.stop.requested()) return Written::kStopped;
    FetchResult result = fetched.result;
    if (visit == Visit::kRefresh && !result.ok()) {
        if (result.status == FetchStatus::kHttpStatus && result.httpStatus == 304) {
            ++state_.reusedItems;
            return Written::kSaved;
        }
        // The copy of the earlier save stays, and pages keep leading to it.
        if (result.status != FetchStatus::kByteBudgetReached) {
            if (!guessed) context_.failures.Report(state_.currentIndex, &r, r.url, result);
            return Written::kSaved;
        }
    }
    // An item larger than the whole budget ends the save as the budget would.
    if (result.status == FetchStatus::kByteBudgetReached) {
        state_.BudgetEndsAt(r.url);
        return Written::kBudgetEnd;
    }
    TextKind offered;
    if (result.ok() && r.kind == KIND_PAGE &&
        ScanKindOf(r, startPage, options_, state_.policy->Layout(), &offered) &&
        fetched.body.size() <= static_cast<int64_t>(FETCH_BUFFER_SIZE)) {
        OfferPage(context_, &fetched);
        if (context_.stop.requested()) return Written::kStopped;
    }
    if (result.ok()) {
        // The item keeps its name and kind; its URL becomes the one the body came from, so
        // that a page's references are read against it.
        std::memset(r.url, 0, sizeof r.url);
        std::memcpy(r.url, fetched.finalUrl.data(),
                    std::min(fetched.finalUrl.size(), sizeof r.url - 1));
        if (startPage && !state_.leadingPage.empty()) MoveStartPage(state_, r);
        spots_.clear();
        TextKind kind;
        BodySink& body = fetched.body;
        // A text is scanned as far as the page buffer holds its rewriting; a larger one is
        // saved as it came.
        bool scanned = ScanKindOf(r, startPage, options_, state_.policy->Layout(), &kind) &&
                       body.size() <= static_cast<int64_t>(FETCH_BUFFER_SIZE);
        int32_t length = 0;
        if (scanned) {
            std::string page;
            const std::string* text = &body.memory();
            if (body.inFile()) {
                scanned = body.ReadInto(&page);
                text = &page;
            }
            if (scanned &&
                ScanAndRewritePage(state_, text->data(), static_cast<int32_t>(text->size()), kind,
                                   options_, scratch_, &length, &spots_,
                                   context_.stop) == ScanResult::kStopped)
                return Written::kStopped;
        }
        if (callback_ != nullptr) callback_(state_.currentIndex, &r);
        if (context_.stop.requested()) return Written::kStopped;
        platform::CreateFoldersFor(r.localPath);
        bool written = scanned ? platform::WriteFileAtomically(r.localPath, scratch_,
                                                               static_cast<size_t>(length))
                               : body.SaveAs(r.localPath);
        // The file the caller named opens the start page only once that page is there.
        if (written && startPage && !state_.leadingPage.empty())
            written =
                WriteLeadingPage(state_.leadingPage.c_str(), state_.LocalNameOf(state_.startEntry),
                                 state_.UrlOf(state_.startEntry));
        if (written) {
            // A later save asks whether the item changed since the date its server gave.
            if (state_.policy->RefreshesSavedItems() && fetched.lastModified >= 0)
                platform::SetFileWrittenAt(r.localPath, fetched.lastModified);
            state_.CountBytes(static_cast<size_t>(scanned ? length : body.size()));
            if (!spots_.empty() && state_.policy->KeepsPages())
                state_.savedPages.push_back(SavedPage{r.localPath, spots_});
            return Written::kSaved;
        }
        result = FetchStatus::kWriteFailed;
    }
    if (!guessed) context_.failures.Report(state_.currentIndex, &r, r.url, result);
    return Written::kFailed;
}

// The save folder of `savePath`: up to and with its last backslash, colon or slash (not
// counting its first character); empty when there is none.
void DeriveSaveFolder(const char* savePath, size_t length, char (&folder)[LOCAL_PATH_SIZE]) {
    std::memset(folder, 0, sizeof folder);
    for (size_t i = length; i >= 1; --i) {
        char c = savePath[i];
        if (c == '\\' || c == ':' || c == '/') {
            std::memcpy(folder, savePath, i + 1);
            return;
        }
    }
}

// The start page in the URL index, so that pages naming it name its file. In the site's
// tree it is saved where its name there says, and the file the caller named leads to it;
// where no name there fits, it is saved at that file, as in the flat layout.
void IndexStartPage(CrawlState& state, PageRecord& start) {
    const char* url = start.url;
    char(&savePath)[LOCAL_PATH_SIZE] = start.localPath;
    std::string absolute = SchemeOf(url, std::strlen(url)) == ReferenceScheme::kFetchable &&
                                   std::strstr(url, "://") != nullptr
                               ? url
                               : std::string("http://") + url;
    char resolved[URL_TEXT_SIZE];
    if (!ResolveUrl(absolute.c_str(), absolute.c_str(), absolute.size(), resolved)) return;
    int32_t entry = state.AddUrl(resolved, std::strlen(resolved));
    size_t folderLength = std::strlen(state.saveFolder);
    std::string name = savePath + folderLength;
    while (!name.empty() && (name[0] == '\\' || name[0] == '/')) name.erase(0, 1);
    for (char& c : name)
        if (c == '/') c = '\\';
    char claimed[LOCAL_PATH_SIZE];
    std::memcpy(claimed, name.c_str(), name.size() + 1);
    size_t claimedLength = name.size();
    state.names.Claim(claimed, &claimedLength, sizeof claimed, resolved);
    char treePath[LOCAL_PATH_SIZE];
    if (state.policy->Layout() == NameLayout::kSiteTree &&
        PlaceInTree(state, resolved, &name, treePath)) {
        state.leadingPage = savePath;
        std::memset(savePath, 0, sizeof savePath);
        std::memcpy(savePath, treePath, std::strlen(treePath));
    }
    state.SetLocalName(entry, name);
    state.entry(entry).fate = UrlFate::kQueued;
    state.entryOf(0) = entry;
    state.startEntry = entry;
}

}  // namespace

bool StartCrawl(CrawlState& state, const char* url, size_t urlLength, const char* savePath,
                size_t pathLength, const CrawlPolicy& policy) {
    if (pathLength >= LOCAL_PATH_SIZE) return false;
    state.Reset();
    state.policy = &policy;
    DeriveSaveFolder(savePath, pathLength, state.saveFolder);

    int32_t start = state.Allocate();
    PageRecord& r = state.record(start);
    r.prev = NO_RECORD;
    r.next = NO_RECORD;
    r.depth = 0;
    r.kind = KIND_PAGE;
    r.referer[0] = '\0';
    r.sameSite = 1;
    if (urlLength >= URL_TEXT_SIZE) return false;
    std::memcpy(r.url, url, urlLength);
    std::memcpy(r.localPath, savePath, pathLength);
    state.TakeItem(r.url);
    IndexStartPage(state, r);
    return true;
}

CrawlOutcome VisitQueue(SaveContext& context, CrawlState& state, const SaveOptions& callerOptions,
                        SavePageCallback callback) {
    const SaveOptions options = callerOptions;
    // A scanned text is rewritten into this buffer and saved from there; only pages that are
    // scanned touch it.
    Buffer scratch(static_cast<char*>(std::malloc(FETCH_BUFFER_SIZE)));
    if (!scratch) return CrawlOutcome::kNoMemory;
    state.policy->Begin(state);
    CrawlOutcome outcome = QueueVisit(context, state, options, callback, scratch.get()).Run();
    MendSavedPages(state);
    if (outcome == CrawlOutcome::kDone && !state.budgetEnd().ok()) {
        context.failures.Report(NO_RECORD, nullptr, state.budgetEndUrl().c_str(),
                                state.budgetEnd());
        outcome = CrawlOutcome::kBudgetReached;
    }
    state.policy->End(context, state, outcome == CrawlOutcome::kStopped);
    return outcome;
}

void MendSavedPages(CrawlState& state) {
    std::string text, mended;
    for (const SavedPage& saved : state.savedPages) {
        bool needed = false;
        for (const LocalSpot& spot : saved.spots)
            needed = needed || state.entry(spot.entry).fate != UrlFate::kSaved;
        if (!needed || !platform::ReadWholeFile(saved.path.c_str(), &text)) continue;
        mended.clear();
        size_t copied = 0;
        char area[8 * URL_TEXT_SIZE];
        for (const LocalSpot& spot : saved.spots) {
            const UrlEntry& entry = state.entry(spot.entry);
            std::string_view url = state.UrlOf(spot.entry);
            size_t at = static_cast<size_t>(spot.offset),
                   end = at + static_cast<size_t>(spot.length);
            if (entry.fate == UrlFate::kSaved || at < copied || end > text.size()) continue;
            BoundedText address(area);
            AppendValue(url.data(), url.size(), false, spot.context, address);
            mended.append(text, copied, at - copied);
            mended.append(address.c_str(), address.length());
            copied = end;
        }
        mended.append(text, copied, std::string::npos);
        platform::WriteFileAtomically(saved.path.c_str(), mended.data(), mended.size());
    }
    state.savedPages.clear();
}

}  // namespace qm
