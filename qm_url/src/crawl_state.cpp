#include "crawl_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qm {
namespace {

// Which records are in use, one bit each, and which words of that map are full: the lowest
// free record is found in a few steps however long the queue is.
constexpr int32_t kWordBits = 64;
constexpr int32_t kUseWords = PAGE_TABLE_SIZE / kWordBits;
constexpr int32_t kFullWords = kUseWords / kWordBits;

int LowestZeroBit(uint64_t word) { return __builtin_ctzll(~word); }

}  // namespace

void CrawlState::FreeDeleter::operator()(PageRecord* p) const { std::free(p); }

CrawlState::CrawlState()
    // Zero pages from the system: the table costs nothing until records are used.
    : CrawlState(static_cast<PageRecord*>(std::calloc(PAGE_TABLE_SIZE, sizeof(PageRecord)))) {
    ownTable_.reset(table_);
}

CrawlState::CrawlState(PageRecord* table)
    : table_(table),
      useMap_(kUseWords),
      fullMap_(kFullWords),
      entryOfRecord_(PAGE_TABLE_SIZE, -1),
      levelOfRecord_(PAGE_TABLE_SIZE, 0) {
    if (!table_) throw std::bad_alloc();
}

void CrawlState::AddSiteRoot(std::string_view url) {
    constexpr size_t kMostRoots = 16;
    std::string root(url);
    if (root.empty()) return;
    if (root.back() != '/') root += '/';
    for (const std::string& known : siteRoots_)
        if (known == root) return;
    if (siteRoots_.size() < kMostRoots) siteRoots_.push_back(std::move(root));
}

void CrawlState::Reset() {
    std::memset(table_, 0, sizeof(PageRecord) * static_cast<size_t>(highWater_));
    std::fill(useMap_.begin(), useMap_.begin() + (highWater_ + kWordBits - 1) / kWordBits, 0);
    std::fill(fullMap_.begin(), fullMap_.end(), 0);
    firstOpen_ = 0;
    std::fill(entryOfRecord_.begin(), entryOfRecord_.begin() + highWater_, -1);
    highWater_ = 0;
    itemsTaken_ = 0;
    bytesWritten_ = 0;
    budgetEnd_ = FetchResult();
    budgetEndUrl_.clear();
    currentIndex = 0;
    tailIndex = 0;
    std::memset(saveFolder, 0, sizeof saveFolder);
    std::memset(tempName, 0, sizeof tempName);
    policy = &pages_;
    names.Clear();
    savedPages.clear();
    reusedItems = 0;
    startEntry = -1;
    leadingPage.clear();
    siteRoots_.clear();
    urls_.Clear();
    entries_.clear();
    nameTexts_.clear();
}

int32_t CrawlState::Allocate() {
    for (int32_t f = firstOpen_; f < kFullWords; ++f) {
        if (fullMap_[f] == ~uint64_t{0}) {
            firstOpen_ = f + 1;
            continue;
        }
        int32_t word = f * kWordBits + LowestZeroBit(fullMap_[f]);
        int32_t index = word * kWordBits + LowestZeroBit(useMap_[word]);
        useMap_[word] |= uint64_t{1} << (index % kWordBits);
        if (useMap_[word] == ~uint64_t{0}) fullMap_[f] |= uint64_t{1} << (word % kWordBits);
        if (index >= highWater_) highWater_ = index + 1;
        table_[index].inUse = 1;
        entryOfRecord_[index] = -1;
        levelOfRecord_[index] = 0;
        if (prefetchRecords && index + 1 < PAGE_TABLE_SIZE) PrefetchRecord(index + 1);
        return index;
    }
    return NO_RECORD;
}

// The lines a found item's record is written to: its links, URL, local path, referer and the
// fields after it, each string's first line and the one after.
void CrawlState::PrefetchRecord(int32_t index) const {
    constexpr size_t kWritten[] = {0,
                                   64,
                                   offsetof(PageRecord, localPath),
                                   offsetof(PageRecord, localPath) + 64,
                                   offsetof(PageRecord, inUse),
                                   offsetof(PageRecord, inUse) + 64,
                                   offsetof(PageRecord, kind),
                                   sizeof(PageRecord) - 1};
    const char* record = reinterpret_cast<const char*>(&table_[index]);
    for (size_t at : kWritten) __builtin_prefetch(record + at, 1);
}

void CrawlState::Release(int32_t index) {
    table_[index].inUse = 0;
    int32_t word = index / kWordBits;
    useMap_[word] &= ~(uint64_t{1} << (index % kWordBits));
    fullMap_[word / kWordBits] &= ~(uint64_t{1} << (word % kWordBits));
    firstOpen_ = std::min(firstOpen_, word / kWordBits);
}

void CrawlState::Splice(int32_t embeddedHead, int32_t embeddedTail, int32_t linkHead,
                        int32_t linkTail) {
    PageRecord& c = current();
    if (embeddedHead != NO_RECORD) {
        if (c.next == NO_RECORD) {
            table_[embeddedHead].prev = tailIndex;
            table_[tailIndex].next = embeddedHead;
            tailIndex = embeddedTail;
        } else {
            int32_t after = c.next;
            table_[embeddedTail].next = after;
            table_[after].prev = embeddedTail;
            c.next = embeddedHead;
            table_[embeddedHead].prev = currentIndex;
        }
    }
    if (linkHead != NO_RECORD) {
        table_[linkHead].prev = tailIndex;
        table_[tailIndex].next = linkHead;
        tailIndex = linkTail;
    }
}

bool CrawlState::TakeItem(std::string_view url) {
    // The start page is always taken.
    if (itemsTaken_ < budget.items || itemsTaken_ == 0) {
        ++itemsTaken_;
        return true;
    }
    if (budgetEnd_.ok()) {
        budgetEnd_ = BudgetResult(FetchStatus::kItemBudgetReached, budget.items);
        budgetEndUrl_ = url;
    }
    return false;
}

bool CrawlState::BytesLeft(std::string_view url) {
    if (bytesWritten_ < budget.bytes || bytesWritten_ == 0) return true;
    if (budgetEnd_.ok()) {
        budgetEnd_ = BudgetResult(FetchStatus::kByteBudgetReached, budget.bytes);
        budgetEndUrl_ = url;
    }
    return false;
}

void CrawlState::BudgetEndsAt(std::string_view url) {
    if (!budgetEnd_.ok()) return;
    budgetEnd_ = BudgetResult(FetchStatus::kByteBudgetReached, budget.itemBytes);
    budgetEndUrl_ = url;
}

int32_t CrawlState::AddUrl(const char* url, size_t length, uint32_t hash) {
    entries_.emplace_back();
    return urls_.Add(std::string_view(url, length), hash);
}

void CrawlState::SetLocalName(int32_t id, std::string_view name) {
    UrlEntry& e = entries_[static_cast<size_t>(id)];
    e.nameOffset = static_cast<uint32_t>(nameTexts_.size());
    e.nameLength = static_cast<uint32_t>(name.size());
    nameTexts_.append(name.data(), name.size());
}

}  // namespace qm
