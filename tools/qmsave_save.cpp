// page, pages and pictures: the three saves of the desktop program, from the command line,
// with a progress line on standard error for every item the library reports.
#include "qmsave_save.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app_shell.h"
#include "interrupt.h"
#include "kept_copy.h"
#include "qm_url.h"
#include "rendered_page.h"
#include "single_file_save.h"

namespace qmsave {

namespace {

// Which pages are saved as the browser shows them: those that are only an application's
// shell, all, or none.
enum class Rendering { kAuto, kAlways, kNever };

struct Counts {
    int items = 0;
    int byKind[8] = {};
    int failed = 0;
    int32_t reused = 0;            // items of an earlier save the server said are unchanged
    int lines = 0;                 // the running count on the per-item lines
    int32_t lastItem = NO_RECORD;  // the item reported last, until its file is written
    std::string budget;            // the save budget that ended the save ("5 items"), if one did
    SingleFileSave* singleFile = nullptr;  // with --single-file: where the pages go
    const char* webArchive = nullptr;      // with --warc: the archive's file
    bool webArchiveFailed = false;         // it could not be written
    std::string pageWay;                   // how the page reported next was made, if rendered
};
Counts g_counts;

const char* KindName(PageKind kind) {
    switch (kind) {
        case KIND_PAGE: return "page";
        case KIND_PICTURE: return "picture";
        case KIND_STYLE_SHEET: return "style sheet";
        case KIND_FRAME: return "frame";
        case KIND_SCRIPT: return "script";
        case KIND_FONT: return "font";
        case KIND_MEDIA: return "media";
        default: return "item";
    }
}

// The library's path as this system writes it.
std::string Shown(const char* path) {
    std::string s = path;
#ifndef _WIN32
    std::string out;
    for (char c : s) {
        if (c == '\\') c = '/';
        if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
    }
    s = out;
#endif
    return s;
}

// One line per item, numbered by a running count.
void QM_CALLBACK Report(int32_t index, const PageRecord* record) {
    ++g_counts.items;
    if (record->kind >= 1 && record->kind <= 7) ++g_counts.byKind[record->kind];
    g_counts.lastItem = index;
    if (g_counts.singleFile != nullptr && record->kind == KIND_PAGE)
        g_counts.singleFile->PageSaved(record->localPath, record->url);
    std::string way;
    if (record->kind == KIND_PAGE && !g_counts.pageWay.empty()) {
        way = "  [" + g_counts.pageWay + "]";
        g_counts.pageWay.clear();
    }
    std::fprintf(stderr, "%6d  %-11s %s -> %s%s\n", ++g_counts.lines, KindName(record->kind),
                 record->url, Shown(record->localPath).c_str(), way.c_str());
}

// The library's reason when a save budget ended the save.
constexpr char kBudgetReason[] = "save budget reached: ";

void QM_CALLBACK ReportFailure(int32_t index, const PageRecord* record, const char* url,
                               const char* reason) {
    // Not an item that failed: the save took nothing new from `url` on.
    if (std::strncmp(reason, kBudgetReason, sizeof kBudgetReason - 1) == 0) {
        g_counts.budget = reason + sizeof kBudgetReason - 1;
        return;
    }
    ++g_counts.failed;
    if (index == NO_RECORD && g_counts.webArchive != nullptr &&
        std::strcmp(url, g_counts.webArchive) == 0)
        g_counts.webArchiveFailed = true;
    // An item whose file could not be written was reported as fetched just before.
    if (index != NO_RECORD && index == g_counts.lastItem) {
        --g_counts.items;
        if (record->kind >= 1 && record->kind <= 7) --g_counts.byKind[record->kind];
    }
    g_counts.lastItem = NO_RECORD;
    g_counts.pageWay.clear();
    std::fprintf(stderr, "%6d  %-11s %s failed: %s\n", ++g_counts.lines,
                 record != nullptr ? KindName(record->kind) : "item", url, reason);
}

int Refuse(const char* reason) {
    std::fprintf(stderr, "qmsave: %s\n", reason);
    return 2;
}

void PrintCount() {
    const int* k = g_counts.byKind;
    auto s = [](int n) { return n == 1 ? "" : "s"; };
    std::fprintf(stderr,
                 "qmsave: %d item%s saved (%d page%s, %d picture%s, %d style sheet%s, "
                 "%d frame%s, %d script%s, %d font%s, %d media file%s), %d failed",
                 g_counts.items, s(g_counts.items), k[1], s(k[1]), k[2], s(k[2]), k[3], s(k[3]),
                 k[4], s(k[4]), k[5], s(k[5]), k[6], s(k[6]), k[7], s(k[7]), g_counts.failed);
    if (g_counts.reused > 0) std::fprintf(stderr, ", %d reused", static_cast<int>(g_counts.reused));
    std::fprintf(stderr, "\n");
}

// Which pages go through the browser, and the browser they go through.
struct PageOffers {
    PageOffers(Rendering rendering, uint32_t waitLimitMs, bool keepScripts)
        : all(rendering == Rendering::kAlways),
          renderer(waitLimitMs, keepScripts, Interrupted) {}
    const bool all;  // every page, not only an application's shell
    PageRenderer renderer;
    // With --single-file: where what the scripts of a page saved as it came load goes.
    SingleFileSave* singleFile = nullptr;
};

bool HasScript(const char* text, size_t length) {
    static const char kTag[] = "<script";
    const size_t k = sizeof kTag - 1;
    for (size_t i = 0; i + k <= length; ++i) {
        size_t j = 0;
        while (j < k && std::tolower(static_cast<unsigned char>(text[i + j])) == kTag[j]) ++j;
        if (j == k) return true;
    }
    return false;
}

// A page saved as it came into a single file, with scripts: loaded in the browser, so that
// what its scripts load by names they make goes into the file, and what the browser
// received need not be fetched again.
void LearnScriptLoads(PageOffers& offers, PageOffer* offer, const char* url,
                      const std::string& contentType, const std::string& fetched) {
    RenderedPage page;
    std::string why;
    if (!offers.renderer.LoadsOf(url, &fetched, contentType, &page, &why)) return;
    std::vector<std::pair<std::string, std::string>> loads;
    for (const auto& item : page.items) {
        qm_GiveOfferedItem(offer, item.first.c_str(), item.second.data(),
                           static_cast<int64_t>(item.second.size()));
        if (std::find(page.scriptLoads.begin(), page.scriptLoads.end(), item.first) !=
            page.scriptLoads.end())
            loads.push_back(item);
    }
    if (!loads.empty() && !offers.singleFile->ScriptLoads(url, loads))
        std::fprintf(stderr, "qmsave: what the scripts of %s load could not be kept\n", url);
}

// A page the save has fetched: rendered when it is to be, and then saved as the browser shows
// it, with what the browser received. One that cannot be rendered is saved as it came, and
// counts as failed.
void QM_CALLBACK OfferPage(void* context, PageOffer* offer, const char* url,
                           const char* contentType, const char* text, int64_t length) {
    auto& offers = *static_cast<PageOffers*>(context);
    const size_t size = static_cast<size_t>(length);
    if (!offers.all && !LooksLikeAppShell(text, size)) {
        if (offers.singleFile != nullptr && HasScript(text, size))
            LearnScriptLoads(offers, offer, url, contentType, std::string(text, size));
        return;
    }
    const std::string fetched(text, size);
    RenderedPage page;
    std::string why;
    if (!offers.renderer.Render(url, &fetched, contentType, &page, &why)) {
        if (Interrupted()) return;
        ++g_counts.failed;
        std::fprintf(stderr, "%6d  %-11s %s failed: could not be rendered: %s; saved as it came\n",
                     ++g_counts.lines, "page", url, why.c_str());
        return;
    }
    for (const auto& item : page.items)
        qm_GiveOfferedItem(offer, item.first.c_str(), item.second.data(),
                           static_cast<int64_t>(item.second.size()));
    const bool webAddress = page.url.size() < URL_TEXT_SIZE && page.url.rfind("http", 0) == 0;
    if (qm_ReplaceOfferedPage(offer, page.html.data(), static_cast<int64_t>(page.html.size()),
                              webAddress ? page.url.c_str() : nullptr))
        g_counts.pageWay = "rendered, done at " + page.doneBy;
}

}  // namespace

bool IsSaveVerb(const char* verb) {
    return std::strcmp(verb, "page") == 0 || std::strcmp(verb, "pages") == 0 ||
           std::strcmp(verb, "pictures") == 0;
}

namespace {

// What a save command asks for.
struct SaveRequest {
    const char* url = nullptr;
    const char* target = nullptr;  // the file, or the folder of a picture save
    bool pictures = false;
    bool pages = false;
    bool complete = false;
    bool otherSites = false;
    bool singleFile = false;
    const char* webArchive = nullptr;  // --warc FILE
    Rendering rendering = Rendering::kAuto;
    bool keepScripts = false;
    uint32_t waitLimitMs = 20000;
};

// Reads a save command's arguments into `request` and `cookies`: 0, or the exit status of a
// refusal, which is said.
int ReadSaveArguments(const char* verb, int argc, char** argv, SaveRequest* request,
                      CookieFiles* cookies) {
    SaveRequest& r = *request;
    r.pictures = std::strcmp(verb, "pictures") == 0;
    r.pages = std::strcmp(verb, "pages") == 0;
    std::string problem;
    for (int i = 0; i < argc; ++i) {
        if (cookies->TakeOption(argc, argv, &i, &problem)) {
            if (!problem.empty()) return Refuse((problem + " (try qmsave --help)").c_str());
        } else if (!r.pictures && std::strcmp(argv[i], "--complete") == 0) {
            r.complete = true;
        } else if (!r.pictures && std::strcmp(argv[i], "--single-file") == 0) {
            r.singleFile = true;
        } else if (std::strcmp(argv[i], "--warc") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return Refuse("--warc needs a file name (try qmsave --help)");
            r.webArchive = argv[++i];
        } else if (!r.pictures && std::strcmp(argv[i], "--rendered") == 0) {
            r.rendering = Rendering::kAlways;
        } else if (!r.pictures && std::strcmp(argv[i], "--rendered=auto") == 0) {
            r.rendering = Rendering::kAuto;
        } else if (!r.pictures && std::strcmp(argv[i], "--static") == 0) {
            r.rendering = Rendering::kNever;
        } else if (!r.pictures && std::strcmp(argv[i], "--keep-scripts") == 0) {
            r.keepScripts = true;
        } else if (!r.pictures && std::strcmp(argv[i], "--wait-limit") == 0) {
            char* end = nullptr;
            const long seconds = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
            if (end == nullptr || *end != '\0' || seconds < 1 || seconds > 600)
                return Refuse(
                    "--wait-limit needs a number of seconds, 1 to 600 (try qmsave --help)");
            r.waitLimitMs = static_cast<uint32_t>(seconds) * 1000;
            ++i;
        } else if (r.pages && std::strcmp(argv[i], "--other-sites") == 0) {
            r.otherSites = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Refuse(
                (std::string("unknown option '") + argv[i] + "' (try qmsave --help)").c_str());
        } else if (r.url == nullptr) {
            r.url = argv[i];
        } else if (r.target == nullptr) {
            r.target = argv[i];
        } else {
            return Refuse((std::string(verb) + " takes a URL and a " +
                           (r.pictures ? "folder" : "file") + " (try qmsave --help)")
                              .c_str());
        }
    }
    if (r.url == nullptr || r.target == nullptr || *r.url == '\0' || *r.target == '\0')
        return Refuse((std::string(verb) + " needs a URL and a " +
                       (r.pictures ? "folder" : "file") + " (try qmsave --help)")
                          .c_str());
    return 0;
}

// The closing lines of a save that ran to its end, and its exit status.
int Conclude(int32_t result, bool cookiesWritten, const char* url) {
    PrintCount();
    if (Interrupted()) {
        std::fprintf(stderr, "qmsave: stopped\n");
        return 1;
    }
    // A budget ends a save only after its start page was saved.
    if (result != 1 && !g_counts.budget.empty()) {
        std::fprintf(stderr,
                     "qmsave: stopped at the save budget of %s; the items left out keep "
                     "their addresses\n",
                     g_counts.budget.c_str());
        return 3;
    }
    if (result != 1 && g_counts.webArchiveFailed) {
        std::fprintf(stderr, "qmsave: nothing was saved: the web archive %s could not be written\n",
                     g_counts.webArchive);
        return 1;
    }
    if (result != 1) {
        std::fprintf(stderr, "qmsave: nothing was saved: the page at %s could not be saved\n", url);
        return 1;
    }
    // The start page's file was there already: it is kept, and nothing new was needed.
    if (g_counts.items == 0 && g_counts.failed == 0)
        std::fprintf(stderr, "qmsave: nothing new was saved\n");
    return g_counts.failed == 0 && cookiesWritten ? 0 : 3;
}

}  // namespace

int Save(const char* verb, int argc, char** argv) {
    SaveRequest request;
    CookieFiles cookies;
    if (int refused = ReadSaveArguments(verb, argc, argv, &request, &cookies)) return refused;
    const bool pictures = request.pictures;
    const char* url = request.url;

    // The desktop program's rule: the chosen folder with "\index.html" appended, as it is.
    std::string savePath = pictures ? std::string(request.target) + "\\index.html" : request.target;
    if (std::strlen(url) >= URL_TEXT_SIZE)
        return Refuse("the URL is too long (511 characters at most)");
    if (savePath.size() >= LOCAL_PATH_SIZE)
        return Refuse(pictures ? "the folder path is too long (248 characters at most)"
                               : "the file path is too long (259 characters at most)");

    if (!cookies.Open()) return 2;
    SaveSettings* settings = qm_NewSaveSettings();
    if (settings == nullptr) return Refuse("out of memory");
    struct Freed {
        SaveSettings* settings;
        ~Freed() { qm_FreeSaveSettings(settings); }
    } freed{settings};
    qm_SetSaveCookieJar(settings, cookies.jar());
    if (request.webArchive != nullptr && !qm_SetSaveWebArchive(settings, request.webArchive))
        return Refuse("the web archive's path is too long (259 characters at most)");

    // Pages that scripts build are rendered where a browser is found; --rendered needs one.
    std::string noBrowser;
    const bool canRender = CanRender(&noBrowser);
    if (request.rendering == Rendering::kAlways && !canRender)
        return Refuse(("--rendered needs a browser: " + noBrowser).c_str());
    PageOffers offers(request.rendering, request.waitLimitMs, request.keepScripts);
    if (!pictures && request.rendering != Rendering::kNever && canRender)
        qm_SetSavePageOffer(settings, OfferPage, &offers);

    // With --single-file the save goes into a folder of its own beside FILE, and FILE is
    // replaced only by the whole single file.
    SingleFileSave single;
    if (request.singleFile) {
        if (!single.Begin(Shown(savePath.c_str())))
            return Refuse("could not make a temporary folder beside the file");
        savePath = single.savePath();
        if (savePath.size() >= LOCAL_PATH_SIZE)
            return Refuse("the file path is too long (249 characters at most with --single-file)");
    }

    // A page file saved before would be found present and kept: it is moved aside, so the
    // page is saved anew, and comes back when the save leaves nothing in its place. The other
    // items of an earlier save in the folder are asked for again.
    KeptCopy kept;
    if (!pictures && !request.singleFile) kept.MoveAside(Shown(savePath.c_str()));

    // pages stays on the start page's site unless asked to follow links elsewhere.
    SaveOptions options{1, request.complete ? 1 : 0, request.pages && !request.otherSites ? 1 : 0,
                        request.pages ? 1 : 0};
    StopOnInterrupt();
    g_counts = Counts();
    if (request.singleFile) g_counts.singleFile = offers.singleFile = &single;
    g_counts.webArchive = request.webArchive;
    qm_SetFailureCallback(ReportFailure);
    // A folder of files keeps the site's own layout, so that the paths its pages and scripts
    // make relative to a page lead to the saved files; FILE opens the saved start page. A
    // single file holds everything it needs, and is made from the flat layout, whose pages
    // stand beside each other as the single files do.
    if (!pictures) {
        qm_SetSaveRefresh(settings, &g_counts.reused);
        qm_SetSaveSiteLayout(settings, request.singleFile ? 0 : 1);
    }
    int32_t result =
        pictures ? qm_SavePicturesWithSettings(url, savePath.c_str(), &options, Report, settings)
                 : qm_SavePagesWithSettings(url, savePath.c_str(), &options, Report, settings);
    // A save whose archive alone failed saved its items: the archive counts as one failed.
    if (result != 1 && g_counts.webArchiveFailed && g_counts.items > 0) result = 1;
    kept.Settle();
    // The start page is saved unless the save failed (a budget ends it only after that).
    if (request.singleFile && !Interrupted() && (result == 1 || !g_counts.budget.empty())) {
        const SingleFileSave::Outcome written = single.Write();
        g_counts.failed += written.failed;
        if (!written.startPage && !Interrupted()) {
            cookies.Close();
            PrintCount();
            std::fprintf(stderr, "qmsave: nothing was saved: %s was not written\n", request.target);
            return 1;
        }
    }
    // Cookies set by a save that failed or stopped are kept too: a login page may set them.
    const bool cookiesWritten = cookies.Close();
    return Conclude(result, cookiesWritten, url);
}

}  // namespace qmsave
