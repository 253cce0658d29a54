// A page or style sheet written without what its look does without, as the single file writes
// it: its markup read, the page's facts and kept white space learnt, the edits made while the
// text is copied around its references. Nothing is read outside the text, the copy moves
// only forward, and it never grows but by the references it replaces. The first byte picks
// the kind of text, whether the CSS is read against the page's facts, whether the page is
// written compact, and whether its words count as a script's; the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "references.h"
#include "single_file_markup.h"

using namespace qm;

namespace {

struct Collected : Output {
    bool Put(const char*, size_t size) override {
        written += size;
        return true;
    }
    size_t written = 0;
};

struct Reader : ReferenceVisitor {
    Reader(const std::string& text, MarkupEdits* edits, PageFacts* facts)
        : text(text),
          edits(edits),
          facts(facts) {}
    bool Found(const FoundReference& r) override {
        list.push_back(r);
        return true;
    }
    bool Continue() override { return true; }
    bool WantsMarkup() const override { return true; }
    bool Markup(const FoundMarkup& markup) override {
        if (markup.begin < 0 || markup.end < markup.begin ||
            static_cast<size_t>(markup.end) > text.size())
            std::abort();
        if (edits) edits->Add(text.data(), markup, list);
        if (facts) facts->Add(text.data(), markup);
        return true;
    }
    const std::string& text;
    MarkupEdits* edits;
    PageFacts* facts;
    std::vector<FoundReference> list;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const TextKind kind = data[0] & 1 ? TextKind::kStyleSheet : TextKind::kHtml;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const int32_t length = static_cast<int32_t>(text.size());
    PageFacts facts;
    facts.kept.AddFromCss(text.data(), text.size());
    Reader learn(text, nullptr, &facts);
    ReadReferences(text.data(), length, kind, learn);
    facts.Finish(text.data(), text.size());
    if (data[0] & 8) facts.scripted = true;
    static_cast<void>(IsPrintOnly(text.data(), text.size()));
    MarkupEdits edits(facts.kept, data[0] & 2 ? &facts : nullptr, (data[0] & 4) == 0);
    Reader read(text, &edits, nullptr);
    ReadReferences(text.data(), length, kind, read);
    EditedCopy copy(text, edits.Take());
    Collected out;
    size_t replaced = 0;
    for (const FoundReference& r : read.list) {
        const size_t begin = static_cast<size_t>(r.begin);
        if (begin < copy.at() || copy.Dropped(begin)) continue;
        static_cast<void>(facts.NeverMatches(text.data(), begin));
        copy.To(begin, out);
        if (copy.at() != begin) std::abort();
        copy.SkipTo(static_cast<size_t>(r.end));
        out.Put("X", 1);
        ++replaced;
    }
    copy.To(text.size(), out);
    if (copy.at() != text.size() || out.written > text.size() + replaced) std::abort();
    return 0;
}
