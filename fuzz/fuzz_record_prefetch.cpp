// The page scan with the page table's records asked for ahead and without: on any page or
// style sheet, under each option set and both layouts, the two give the same result, the same
// saved text and local spots, and the same queue, record for record and byte for byte. The
// first byte picks the setting, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "crawl_state.h"
#include "scan.h"

using namespace qm;

namespace {

struct Scanned {
    ScanResult result;
    std::vector<char> text;
    std::vector<LocalSpot> spots;
    std::vector<PageRecord> queue;
};

Scanned Scan(CrawlState& state, bool prefetch, uint8_t setting, const char* text, int32_t size) {
    static const SaveOptions kOptions[] = {{1, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {1, 1, 0, 0}};
    static const PagePolicy site(NameLayout::kSiteTree);
    static std::vector<char> out(FETCH_BUFFER_SIZE);
    state.Reset();
    state.prefetchRecords = prefetch;
    if (setting & 8) state.policy = &site;
    std::strcpy(state.saveFolder, "C:\\saved\\");
    state.currentIndex = state.tailIndex = state.Allocate();
    PageRecord& page = state.current();
    page.prev = page.next = NO_RECORD;
    const TextKind kind = setting & 1 ? TextKind::kStyleSheet : TextKind::kHtml;
    page.kind = kind == TextKind::kHtml ? KIND_PAGE : KIND_STYLE_SHEET;
    std::strcpy(page.url, "http://host/dir/index.html");
    Scanned s;
    int32_t length = -1;
    s.result = ScanAndRewritePage(state, text, size, kind, kOptions[(setting >> 1) & 3],
                                  out.data(), &length, &s.spots, StopToken());
    if (length < 0 || length > FETCH_BUFFER_SIZE) std::abort();
    s.text.assign(out.data(), out.data() + length);
    for (int32_t i = page.next; i != NO_RECORD; i = state.record(i).next)
        s.queue.push_back(state.record(i));
    return s;
}

bool SameSpots(const std::vector<LocalSpot>& a, const std::vector<LocalSpot>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].offset != b[i].offset || a[i].length != b[i].length ||
            a[i].entry != b[i].entry || a[i].context != b[i].context)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static CrawlState& ahead = *new CrawlState;
    static CrawlState& plain = *new CrawlState;
    // Exactly the text's size, so a read past it is seen.
    std::unique_ptr<char[]> text(new char[size - 1]);
    std::memcpy(text.get(), data + 1, size - 1);
    const int32_t n = static_cast<int32_t>(size - 1);
    const Scanned a = Scan(ahead, true, data[0], text.get(), n);
    const Scanned b = Scan(plain, false, data[0], text.get(), n);
    if (a.result != b.result || a.text != b.text || !SameSpots(a.spots, b.spots) ||
        a.queue.size() != b.queue.size() ||
        (!a.queue.empty() &&
         std::memcmp(a.queue.data(), b.queue.data(), a.queue.size() * sizeof(PageRecord)) != 0))
        std::abort();
    return 0;
}
