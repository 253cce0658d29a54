// The page scan on any page or style sheet, under several option sets, save folders, page
// addresses and both layouts: the saved text stays within its buffer, every local spot within the saved
// text, and every queued record holds a terminated URL, referer and local path, the path
// inside the save folder. The first byte picks the setting, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "crawl_state.h"
#include "pictures.h"
#include "scan.h"

using namespace qm;

namespace {

bool Terminated(const char* s, size_t size) { return std::memchr(s, '\0', size) != nullptr; }

// Below the folder, no part of the path is "." or "..", names a drive or starts anew.
bool Inside(const char* path, const char* folder) {
    size_t n = std::strlen(folder);
    if (std::strncmp(path, folder, n) != 0) return false;
    const char* p = path + n;
    if (n > 0 && folder[n - 1] != '\\' && *p++ != '\\') return false;
    if (*p == '\0' || *p == '\\' || std::strpbrk(p, ":/")) return false;
    for (;;) {
        size_t part = std::strcspn(p, "\\");
        if ((part == 1 || part == 2) && p[0] == '.' && p[part - 1] == '.') return false;
        if (p[part] == '\0') return true;
        p += part + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static CrawlState& state = *new CrawlState;
    static std::vector<char> out(FETCH_BUFFER_SIZE);
    static const SaveOptions kOptions[] = {{1, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {1, 1, 0, 0}};
    static const char* kFolders[] = {
        "S\\", "C:\\Users\\me\\Saved pages", "\\\\server\\share\\",
        "C:\\a-folder-name-that-leaves-little-room-for-the-names-of-the-items-saved-in-it\\"
        "a-folder-name-that-leaves-little-room-for-the-names-of-the-items-saved-in-it\\"
        "a-folder-name-that-leaves-little-room-for-the-names"};
    static const char* kPages[] = {"http://host/dir/index.html",
                                   "https://h.example:8443/a/b/c.css?x=1", "http://10.0.0.1/",
                                   "http://host/%2e%2e/dir/../p#f"};
    const uint8_t setting = data[0];
    state.Reset();
    std::strcpy(state.saveFolder, kFolders[(setting >> 3) & 3]);
    static FolderRemover remover;
    static const PicturePolicy pictures(remover);
    static const PagePolicy site(NameLayout::kSiteTree);
    if (setting & 0x20) {
        state.policy = &pictures;
        std::strcpy(state.tempName, "temp");
    } else if (setting & 0x40) {
        state.policy = &site;
    }
    state.currentIndex = state.tailIndex = state.Allocate();
    PageRecord& page = state.current();
    page.prev = page.next = NO_RECORD;
    // Scripts in picture saves: never so in a crawl, but their reading is the same. In the
    // site's tree, scripts with a site root to read their names against too.
    const bool script = (setting & 0x20) || (state.policy == &site && (setting & 4));
    const TextKind kind = !(setting & 1) ? TextKind::kHtml
                          : script       ? TextKind::kScript
                                         : TextKind::kStyleSheet;
    page.kind = kind == TextKind::kHtml     ? KIND_PAGE
                : kind == TextKind::kScript ? KIND_SCRIPT
                                            : KIND_STYLE_SHEET;
    std::strcpy(page.url, kPages[setting >> 6]);
    // In the site's tree the page stands in its folders, and names what it saves from there.
    if (state.policy == &site) {
        char name[LOCAL_PATH_SIZE];
        const size_t n =
            MakeLocalName(page.url, page.kind, name, sizeof name, NameLayout::kSiteTree);
        const int32_t self = state.AddUrl(page.url, std::strlen(page.url));
        state.SetLocalName(self, std::string_view(name, n));
        state.entryOf(state.currentIndex) = self;
        state.AddSiteRoot("http://host/");
    }

    // Exactly the text's size, so a read past it is seen; never null, as a fetch buffer is not.
    std::unique_ptr<char[]> text(new char[size - 1]);
    std::memcpy(text.get(), data + 1, size - 1);
    int32_t length = -1;
    std::vector<LocalSpot> spots;
    ScanResult result =
        ScanAndRewritePage(state, text.get(), static_cast<int32_t>(size - 1), kind,
                           kOptions[(setting >> 1) & 3], out.data(), &length, &spots, StopToken());
    if (result == ScanResult::kStopped || length < 0 || length > FETCH_BUFFER_SIZE) std::abort();
    // A script is saved as it came.
    if (kind == TextKind::kScript &&
        (static_cast<size_t>(length) != size - 1 || std::memcmp(out.data(), data + 1, size - 1)))
        std::abort();
    for (const LocalSpot& s : spots)
        if (s.offset < 0 || s.length < 0 || s.offset + s.length > length) std::abort();
    for (int32_t i = page.next; i != NO_RECORD; i = state.record(i).next) {
        const PageRecord& r = state.record(i);
        if (!Terminated(r.url, sizeof r.url) || !Terminated(r.referer, sizeof r.referer) ||
            !Terminated(r.localPath, sizeof r.localPath) || !Inside(r.localPath, state.saveFolder))
            std::abort();
    }
    return 0;
}
