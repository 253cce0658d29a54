// Scans and rewrites a generated 10 MiB page with 50,000 references, several times, and
// prints the throughput: of the first round apart, whose page table is fresh (its pages are
// touched for the first time), and the mean and best of the rounds after it. With --write FILE it only writes the page, for a peer to work on;
// with --rewrite FILE it scans it once and writes the rewritten page and the local path of
// every record queued, for comparing two builds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crawl.h"
#include "crawl_state.h"
#include "scan.h"

namespace {

constexpr int kReferences = 50000;

// Markup as pages have it, with every kind of reference the scan knows, padded with text
// so that the rewritten page just fills the page buffer of FETCH_BUFFER_SIZE bytes.
// With --hostile, a page of "img " and "href=a" repeated instead: its time shows the scan
// stays linear whatever the text.
std::string MakePage() {
    const size_t target = FETCH_BUFFER_SIZE - kReferences * 26;
    const size_t perReference = target / kReferences;
    std::string page = "<html><head><title>bench</title></head><body>\n";
    std::string filler;
    while (filler.size() < perReference)
        filler += "Quillon saves web pages so you can read them later. ";
    for (int i = 0; i < kReferences; ++i) {
        std::string n = std::to_string(i);
        switch (i % 5) {
            case 0: page += "<img src=\"pics/photo" + n + ".jpg\" alt=\"p\">"; break;
            case 1: page += "<a href=\"../pages/page" + n + ".html\">page</a>"; break;
            case 2: page += "<p style=\"background:url('/img/bg" + n + ".png')\">"; break;
            case 3: page += "<link rel=stylesheet href=\"css/s" + n + ".css\">"; break;
            case 4:
                page += "<a href='http://other.example/x" + n + "?a=1&amp;b=2#top'>x</a>";
                break;
        }
        page.append(filler, 0, perReference > 70 ? perReference - 70 : 0);
        page += "\n";
    }
    while (page.size() + filler.size() + 16 < target) page += filler;
    page += "</body></html>\n";
    return page;
}

}  // namespace

std::string MakeHostilePage() {
    std::string page;
    while (page.size() < 4 * 1048576) page += "img href=a <img src=x <a href=";
    return page;
}

int main(int argc, char** argv) {
    bool hostile = argc >= 2 && std::strcmp(argv[1], "--hostile") == 0;
    if (hostile) {
        --argc;
        ++argv;
    }
    std::string page = hostile ? MakeHostilePage() : MakePage();
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f || std::fwrite(page.data(), 1, page.size(), f) != page.size()) return 1;
        return std::fclose(f) == 0 ? 0 : 1;
    }
    const bool dump = argc == 3 && std::strcmp(argv[1], "--rewrite") == 0;
    int rounds = dump ? 1 : argc >= 2 ? std::atoi(argv[1]) : 10;
    if (!dump && rounds < 2) rounds = 2;
    std::vector<char> text(FETCH_BUFFER_SIZE), scratch(FETCH_BUFFER_SIZE);
    const SaveOptions options{1, 1, 0, 1};
    qm::CrawlState state;
    std::vector<qm::LocalSpot> spots;
    double first = 0, seconds = 0, best = 0;
    int32_t records = 0, rewritten = 0;
    for (int r = 0; r < rounds; ++r) {
        state.Reset();
        std::strcpy(state.saveFolder, "C:\\pages\\");
        state.currentIndex = state.Allocate();
        std::strcpy(state.record(0).url, "http://bench.example/dir/index.html");
        state.record(0).prev = state.record(0).next = NO_RECORD;
        std::memcpy(text.data(), page.data(), page.size());
        int32_t length = 0;
        spots.clear();
        auto start = std::chrono::steady_clock::now();
        qm::ScanAndRewritePage(state, text.data(), static_cast<int32_t>(page.size()),
                               qm::TextKind::kHtml, options, scratch.data(), &length, &spots,
                               qm::StopToken());
        double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r == 0) {
            first = took;
        } else {
            seconds += took;
            if (r == 1 || took < best) best = took;
        }
        records = state.tailIndex;
        rewritten = length;
    }
    if (dump) {
        FILE* f = std::fopen(argv[2], "wb");
        size_t n = static_cast<size_t>(rewritten);
        if (!f || std::fwrite(scratch.data(), 1, n, f) != n) return 1;
        for (int32_t i = 0; i != NO_RECORD; i = state.record(i).next)
            std::fprintf(f, "\n%d %s %s", static_cast<int>(i), state.record(i).url,
                         state.record(i).localPath);
        return std::fclose(f) == 0 ? 0 : 1;
    }
    double mb = page.size() / 1048576.0;
    std::printf(
        "%s page %.2f MiB (%.2f MiB rewritten), %d records queued; first round %.1f MB/s; "
        "scan and rewrite %.1f MB/s (mean of %d after it; best %.1f MB/s)\n",
        hostile ? "hostile" : "generated", mb, rewritten / 1048576.0, static_cast<int>(records),
        mb / first, mb * (rounds - 1) / seconds, rounds - 1, mb / best);
    return 0;
}
