#include "crawl.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "arguments.h"
#include "failure_report.h"
#include "fetch.h"
#include "names.h"
#include "pictures.h"
#include "platform/files.h"
#include "platform/probe.h"
#include "scan.h"
#include "stop.h"

namespace qm {

PageRecord g_pageTable[PAGE_TABLE_SIZE];
int32_t g_currentIndex = 0;
int32_t g_tailIndex = 0;
char g_saveFolder[LOCAL_PATH_SIZE];

namespace {

// Which records are in use, one bit each, and which words of that map are full: the lowest
// free record is found in a few steps however long the queue is.
constexpr int32_t kWordBits = 64;
constexpr int32_t kUseWords = PAGE_TABLE_SIZE / kWordBits;
constexpr int32_t kFullWords = kUseWords / kWordBits;
uint64_t g_useMap[kUseWords];
uint64_t g_fullMap[kFullWords];
// Records below this index may have been touched since the last reset.
int32_t g_highWater = 0;

int LowestZeroBit(uint64_t word) { return __builtin_ctzll(~word); }

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

bool OptionSkips(const PageRecord& r, const SaveOptions& options) {
    if (r.kind == KIND_PICTURE) return options.savePictures == 0;
    if (options.savePages == 0) return true;
    return r.kind == KIND_PAGE && r.sameSite == 0 && options.sameSiteOnly == 1;
}

// One item through the HTTP client, with the page it was found on as its Referer, following
// redirects. The item keeps its name and kind; its URL becomes the one the body came from,
// so that a page's references are read against it.
FetchResult FetchItem(PageRecord& r, char* buffer, int32_t* length) {
    UrlRequest request = {};
    request.url = r.url;
    request.urlLength = static_cast<int32_t>(std::strlen(r.url));
    request.referer = r.referer;
    request.refererLength = static_cast<int32_t>(std::strlen(r.referer));
    char finalUrl[URL_TEXT_SIZE];
    FetchResult result = FetchFollowing(request, buffer, length, finalUrl);
    if (result.ok()) std::memcpy(r.url, finalUrl, sizeof r.url);
    return result;
}

// Visits the queue from record 0 until it is exhausted, the depth stop or a stop request.
CrawlOutcome CrawlLoop(char* page, char* scratch, const SaveOptions& options,
                       SavePageCallback callback, CrawlVariant variant) {
    CrawlOutcome outcome = CrawlOutcome::kDone;
    bool startPage = true;  // the first record visited is the start page
    while (g_currentIndex >= 0) {
        if (StopRequested()) return CrawlOutcome::kStopped;
        PageRecord& r = g_pageTable[g_currentIndex];
        if (static_cast<int32_t>(r.depth) > options.maxDepth) break;

        bool visit;
        bool lost = false;  // wanted, but not saved
        if (variant == CrawlVariant::kPages) {
            visit = !OptionSkips(r, options);
        } else {
            int32_t mode = r.kind == KIND_PICTURE ? kFlattenPicture : kIntoTempFolder;
            visit = AdjustPicturePath(r.localPath, static_cast<int32_t>(std::strlen(r.localPath)),
                                      mode) == 1;
            lost = !visit;
        }
        // An item whose file exists was saved before: neither fetched nor followed.
        if (visit && !platform::FileExists(r.localPath)) {
            int32_t length = 0;
            FetchResult fetched = FetchItem(r, page, &length);
            // A fetch cut short by a stop may have only part of the body: it is not kept.
            if (StopRequested()) {
                ReportFailure(g_currentIndex, &r, r.url, FetchStatus::kStopped);
                return CrawlOutcome::kStopped;
            }
            if (fetched.ok()) {
                if (r.kind != KIND_PICTURE) ScanAndRewritePage(page, &length, &options, scratch);
                if (callback != nullptr) callback(g_currentIndex, &r);
                platform::CreateFoldersFor(r.localPath);
                if (!platform::WriteFileAtomically(r.localPath, page, static_cast<size_t>(length)))
                    fetched = FetchStatus::kWriteFailed;
            }
            if (!fetched.ok()) {
                lost = true;
                ReportFailure(g_currentIndex, &r, r.url, fetched);
            }
        } else if (lost) {
            // An item of a picture save for which no file name in the folder could be made.
            ReportFailure(g_currentIndex, &r, r.url, FetchStatus::kWriteFailed);
        }
        // Without its start page a save has nothing to show: the caller must not be told
        // it completed. Later items that fail are left out, and only reported.
        if (startPage && lost) outcome = CrawlOutcome::kStartPageFailed;
        startPage = false;
        int32_t next = r.next;  // read after the scan, which may have queued items behind r
        ReleasePageRecord(g_currentIndex);
        g_currentIndex = next;
    }
    return outcome;
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

}  // namespace

extern "C" QM_API int32_t QM_CALL qm_SavePages(const char* url, const char* savePath,
                                               SaveOptions* options,
                                               SavePageCallback callback) {
    CallScope scope;
    size_t urlLength, pathLength;
    if (!CheckCrawlArguments(url, savePath, options, false, &urlLength, &pathLength)) return 0;
    try {
        if (!StartCrawl(url, urlLength, savePath, pathLength)) return 0;
        return VisitQueue(*options, callback, CrawlVariant::kPages) == CrawlOutcome::kDone ? 1 : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

extern "C" QM_API int32_t QM_CALL qm_OldSavePages(UrlRequest* request, const char* filePath,
                                                  const void* reserved) {
    CallScope scope;
    if (!platform::ProbeReadable(request, sizeof *request) ||
        !platform::ProbeReadable(filePath, 1) || !platform::ProbeReadable(reserved, 16))
        return 0;
    try {
        Buffer buffer(static_cast<char*>(std::calloc(FETCH_BUFFER_SIZE, 1)));
        if (!buffer) return 0;
        int32_t length = 0;
        if (!FetchCallersRequest(*request, buffer.get(), &length).ok() || StopRequested())
            return 0;
        if (platform::WriteFileAtomically(filePath, buffer.get(), static_cast<size_t>(length)))
            return 1;
        ReportFailure(NO_RECORD, nullptr, "", FetchStatus::kWriteFailed);
        return 0;
    } catch (...) {
        return 0;
    }
}

bool StartCrawl(const char* url, size_t urlLength, const char* savePath, size_t pathLength) {
    if (pathLength >= LOCAL_PATH_SIZE) return false;
    ResetPageTable();
    DeriveSaveFolder(savePath, pathLength, g_saveFolder);

    int32_t start = AllocatePageRecord();
    PageRecord& r = g_pageTable[start];
    r.prev = NO_RECORD;
    r.next = NO_RECORD;
    r.depth = 0;
    r.kind = KIND_PAGE;
    r.referer[0] = '\0';
    r.sameSite = 1;
    if (urlLength >= URL_TEXT_SIZE) return false;
    std::memcpy(r.url, url, urlLength);
    std::memcpy(r.localPath, savePath, pathLength);
    return true;
}

CrawlOutcome VisitQueue(const SaveOptions& callerOptions, SavePageCallback callback,
                        CrawlVariant variant) {
    const SaveOptions options = callerOptions;
    // The text is rewritten from one buffer into the other; the scratch one is touched only
    // by pages that are scanned.
    Buffer page(static_cast<char*>(std::calloc(FETCH_BUFFER_SIZE, 1)));
    Buffer scratch(static_cast<char*>(std::malloc(FETCH_BUFFER_SIZE)));
    if (!page || !scratch) return CrawlOutcome::kNoMemory;
    return CrawlLoop(page.get(), scratch.get(), options, callback, variant);
}

void ResetPageTable() {
    std::memset(g_pageTable, 0, sizeof(PageRecord) * static_cast<size_t>(g_highWater));
    std::memset(g_useMap, 0, sizeof(uint64_t) * static_cast<size_t>((g_highWater + kWordBits - 1) / kWordBits));
    std::memset(g_fullMap, 0, sizeof g_fullMap);
    g_highWater = 0;
    std::memset(g_saveFolder, 0, sizeof g_saveFolder);
    g_currentIndex = 0;
    g_tailIndex = 0;
}

int32_t AllocatePageRecord() {
    for (int32_t f = 0; f < kFullWords; ++f) {
        if (g_fullMap[f] == ~uint64_t{0}) continue;
        int32_t word = f * kWordBits + LowestZeroBit(g_fullMap[f]);
        int32_t index = word * kWordBits + LowestZeroBit(g_useMap[word]);
        g_useMap[word] |= uint64_t{1} << (index % kWordBits);
        if (g_useMap[word] == ~uint64_t{0}) g_fullMap[f] |= uint64_t{1} << (word % kWordBits);
        if (index >= g_highWater) g_highWater = index + 1;
        g_pageTable[index].inUse = 1;
        return index;
    }
    return NO_RECORD;
}

void ReleasePageRecord(int32_t index) {
    g_pageTable[index].inUse = 0;
    int32_t word = index / kWordBits;
    g_useMap[word] &= ~(uint64_t{1} << (index % kWordBits));
    g_fullMap[word / kWordBits] &= ~(uint64_t{1} << (word % kWordBits));
}

void SpliceFoundItems(int32_t embeddedHead, int32_t embeddedTail, int32_t linkHead,
                      int32_t linkTail) {
    PageRecord& current = g_pageTable[g_currentIndex];
    if (embeddedHead != NO_RECORD) {
        if (current.next == NO_RECORD) {
            g_pageTable[embeddedHead].prev = g_tailIndex;
            g_pageTable[g_tailIndex].next = embeddedHead;
            g_tailIndex = embeddedTail;
        } else {
            int32_t after = current.next;
            g_pageTable[embeddedTail].next = after;
            g_pageTable[after].prev = embeddedTail;
            current.next = embeddedHead;
            g_pageTable[embeddedHead].prev = g_currentIndex;
        }
    }
    if (linkHead != NO_RECORD) {
        g_pageTable[linkHead].prev = g_tailIndex;
        g_pageTable[g_tailIndex].next = linkHead;
        g_tailIndex = linkTail;
    }
}

}  // namespace qm
