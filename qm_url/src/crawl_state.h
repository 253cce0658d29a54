// The state of one crawl: the page table and the queue threaded through it, the save folder,
// the picture save's temporary folder, and the index of every URL the crawl has met. The
// crawl, the page scan and the naming code are handed this object; nothing else holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fetch_status.h"
#include "names.h"
#include "page_policy.h"
#include "text_table.h"
#include "qm_url.h"

namespace qm {

// What became, or will become, of a URL in this crawl.
enum class UrlFate : uint8_t {
    kNotSaved,  // met, but this crawl does not save it: pages name it by its address
    kQueued,    // a record waits for it: pages name it by its local name
    kSaved,     // its file is there (written by this crawl or found present)
    kFailed,    // it could not be fetched or written: pages name it by its address
};

struct UrlEntry {
    uint32_t nameOffset = 0;  // its local name, relative to the save folder, with
    uint32_t nameLength = 0;  // backslashes between folders, in the index's name texts
    UrlFate fate = UrlFate::kNotSaved;
    bool guessed = false;  // named only in scripts: it may not exist, and its failure is not told
};

// A local reference written into a saved page to an item that was not saved yet when the
// page was written: if the item is never saved, the fix-up pass puts its address there.
struct LocalSpot {
    int32_t offset;  // in the saved file
    int32_t length;
    int32_t entry;
    uint8_t context;  // how the page writes a value there (ValueContext)
};

struct SavedPage {
    std::string path;
    std::vector<LocalSpot> spots;
};

// The most one save takes: items (the start page included) and bytes written.
struct SaveBudget {
    int64_t items = SAVE_BUDGET_ITEMS;
    int64_t bytes = SAVE_BUDGET_BYTES;
    // The most one item's body may have: the item that crosses the byte budget is still
    // written whole, but one without end stops here, and ends the save as the budget does.
    int64_t itemBytes = SAVE_BUDGET_BYTES;
};

class CrawlState {
public:
    // A state with a page table of its own.
    CrawlState();
    // A state that uses `table` (PAGE_TABLE_SIZE zero-filled records) as its page table.
    explicit CrawlState(PageRecord* table);
    CrawlState(const CrawlState&) = delete;
    CrawlState& operator=(const CrawlState&) = delete;

    // Clears what the previous crawl used: records, queue, folders and the URL index.
    void Reset();

    // Index of the lowest-numbered free record, now in use; NO_RECORD when none is free.
    // With prefetchRecords set, it also asks the memory ahead for the lines of the record
    // after it, which the next item found on a page most often takes: a record's fields lie
    // lines apart, and writing each of them into a line not at hand costs a wait.
    int32_t Allocate();
    bool prefetchRecords = true;
    // Gives a record back to the pool; its contents stay until it is taken again.
    void Release(int32_t index);
    // Links the records found on the page being visited into the queue: embedded items
    // right after it, links at the end. Either group may be empty (NO_RECORD).
    void Splice(int32_t embeddedHead, int32_t embeddedTail, int32_t linkHead, int32_t linkTail);

    PageRecord& record(int32_t index) { return table_[index]; }
    PageRecord& current() { return table_[currentIndex]; }

    // The entry of `url`, or -1; `*hash` receives what AddUrl needs.
    int32_t FindUrl(const char* url, size_t length, uint32_t* hash) const {
        *hash = TextTable::Hash(std::string_view(url, length));
        return urls_.Find(std::string_view(url, length), *hash);
    }
    int32_t FindUrl(const char* url, size_t length) const {
        uint32_t hash;
        return FindUrl(url, length, &hash);
    }
    // A new entry for `url` (not yet in the index), whose hash FindUrl gave.
    int32_t AddUrl(const char* url, size_t length, uint32_t hash);
    int32_t AddUrl(const char* url, size_t length) {
        return AddUrl(url, length, TextTable::Hash(std::string_view(url, length)));
    }
    UrlEntry& entry(int32_t id) { return entries_[static_cast<size_t>(id)]; }
    std::string_view UrlOf(int32_t id) const { return urls_.text(id); }
    std::string_view LocalNameOf(int32_t id) const {
        const UrlEntry& e = entries_[static_cast<size_t>(id)];
        return std::string_view(nameTexts_.data() + e.nameOffset, e.nameLength);
    }
    void SetLocalName(int32_t id, std::string_view name);
    // The entry a queued record stands for, or -1.
    int32_t& entryOf(int32_t index) { return entryOfRecord_[static_cast<size_t>(index)]; }
    // How many levels of embedding lie between a record and the page that holds it: 0 for a
    // page, 1 for what a page embeds, 2 for what that embeds, ...
    uint8_t& levelOf(int32_t index) { return levelOfRecord_[static_cast<size_t>(index)]; }

    // Takes one more item into the save: false once the item budget is spent, the first
    // item refused (`url`) being noted as where the budget ended the save.
    bool TakeItem(std::string_view url);
    // Whether the save may fetch the item at `url`: false, noting it as for TakeItem, once
    // the bytes written have reached the byte budget.
    bool BytesLeft(std::string_view url);
    void CountBytes(size_t length) { bytesWritten_ += static_cast<int64_t>(length); }
    // The item at `url` alone is larger than budget.itemBytes: the save ends there as it does
    // when the byte budget is spent.
    void BudgetEndsAt(std::string_view url);
    // The budget that ended the save (kOk while none has), and the first item it left out.
    const FetchResult& budgetEnd() const { return budgetEnd_; }
    const std::string& budgetEndUrl() const { return budgetEndUrl_; }

    int32_t currentIndex = 0;  // record being visited; NO_RECORD once the queue is done
    int32_t tailIndex = 0;     // last record of the queue
    char saveFolder[LOCAL_PATH_SIZE] = {};
    char tempName[16] = {};  // the picture save's temporary folder inside the save folder
    // What this crawl saves and where; the page save's unless StartCrawl is given another.
    const CrawlPolicy* policy = &pages_;
    NameRegistry names;
    std::vector<SavedPage> savedPages;  // pages with local references to items not saved yet
    int32_t reusedItems = 0;  // items kept from an earlier save, the server saying unchanged
    int32_t startEntry = -1;            // the start page's entry in the URL index
    // In the site's tree, the file the caller named, which leads to the start page; empty
    // where the start page is saved at that file itself.
    std::string leadingPage;
    // The folders the pages name as their site's root for their scripts (kSiteRoot), each
    // ending in '/', the first few only.
    void AddSiteRoot(std::string_view url);
    const std::vector<std::string>& siteRoots() const { return siteRoots_; }
    // Kept by Reset: the exports save within the defaults; tests set it shorter.
    SaveBudget budget;

private:
    void PrefetchRecord(int32_t index) const;

    PagePolicy pages_;
    struct FreeDeleter {
        void operator()(PageRecord* p) const;
    };
    std::unique_ptr<PageRecord[], FreeDeleter> ownTable_;
    PageRecord* table_;
    std::vector<uint64_t> useMap_, fullMap_;
    int32_t firstOpen_ = 0;  // the words of fullMap_ before this one are full
    int32_t highWater_ = 0;  // records below this index may have been touched since the reset
    std::vector<int32_t> entryOfRecord_;
    std::vector<uint8_t> levelOfRecord_;
    int64_t itemsTaken_ = 0;
    int64_t bytesWritten_ = 0;
    FetchResult budgetEnd_;
    std::string budgetEndUrl_;
    std::vector<std::string> siteRoots_;
    TextTable urls_;  // entry number = text number
    std::vector<UrlEntry> entries_;
    TextArea nameTexts_;
};

// The one crawl state behind the exports (one call at a time per process). Its page table is
// static storage, so a crawl never fails for want of memory for it.
CrawlState& ExportState();

}  // namespace qm
