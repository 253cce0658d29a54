#include "single_file.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ascii.h"
#include "media_type.h"
#include "platform/files.h"
#include "qm_url.h"
#include "references.h"
#include "single_file_loader.h"
#include "single_file_markup.h"
#include "single_file_outputs.h"

namespace qm {
namespace {

using Segments = std::vector<std::string>;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// `path` below `folder`, as its folders and name; false when it is not below it.
bool SegmentsBelow(const std::string& folder, const std::string& path, Segments* out) {
    size_t n = folder.size();
    while (n > 0 && IsSeparator(folder[n - 1])) --n;
    if (path.size() <= n + 1 || path.compare(0, n, folder, 0, n) != 0 || !IsSeparator(path[n]))
        return false;
    out->clear();
    std::string part;
    for (size_t i = n + 1; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) {
            part += path[i];
        } else if (!part.empty()) {
            if (part == "..") return false;
            if (part != ".") out->push_back(part);
            part.clear();
        }
    }
    return !out->empty();
}

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    c = Lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The saved file a reference value names, read against the folder of the text it stands in:
// a relative name without a scheme or a host, %-escapes undone, kept below the save folder.
// `fragment` receives its "#..." part.
bool LocalFile(const std::string& value, const Segments& textFolder, Segments* file,
               std::string* fragment) {
    if (value.empty() || value[0] == '#' || IsSeparator(value[0])) return false;
    for (char c : value) {
        if (c == ':') return false;  // a scheme: an address, or data: and its like
        if (IsSeparator(c) || c == '?' || c == '#') break;
    }
    size_t end = value.find_first_of("?#");
    if (end == std::string::npos) end = value.size();
    size_t hash = value.find('#');
    *fragment = hash == std::string::npos ? "" : value.substr(hash);
    *file = textFolder;
    std::string part;
    for (size_t i = 0; i <= end; ++i) {
        if (i < end && !IsSeparator(value[i])) {
            int high, low;
            if (value[i] == '%' && i + 2 < end && (high = HexDigit(value[i + 1])) >= 0 &&
                (low = HexDigit(value[i + 2])) >= 0) {
                const char c = static_cast<char>(high * 16 + low);
                if (c == '\0' || IsSeparator(c)) return false;
                part += c;
                i += 2;
            } else {
                part += value[i];
            }
            continue;
        }
        if (part == "..") {
            if (file->empty()) return false;
            file->pop_back();
        } else if (!part.empty() && part != ".") {
            file->push_back(part);
        }
        part.clear();
    }
    return !file->empty() && !IsSeparator(value[end - 1]);
}

struct References : ReferenceVisitor {
    // `edits` and `facts`, when given, receive the markup of `text`.
    References(const StopToken& s, const std::string& text, MarkupEdits* edits = nullptr,
               PageFacts* facts = nullptr)
        : stop(s),
          text(text),
          edits(edits),
          facts(facts) {}
    bool Found(const FoundReference& r) override {
        list.push_back(r);
        return true;
    }
    bool Continue() override { return !stop.requested(); }
    bool WantsMarkup() const override { return edits != nullptr || facts != nullptr; }
    bool Markup(const FoundMarkup& markup) override {
        if (firstScript < 0 && markup.kind == FoundMarkup::kStartTag &&
            IsWordNoCase(markup.name, markup.nameLength, "script"))
            firstScript = markup.begin;
        if (edits) edits->Add(text.data(), markup, list);
        if (facts) facts->Add(text.data(), markup);
        return true;
    }
    bool Read(TextKind kind) {
        if (!ReadReferences(text.data(), static_cast<int32_t>(text.size()), kind, *this))
            return false;
        if (facts) facts->Finish(text.data(), text.size());
        return true;
    }
    const StopToken& stop;
    const std::string& text;
    MarkupEdits* edits;
    PageFacts* facts;
    std::vector<FoundReference> list;
    int32_t firstScript = -1;  // where the first script element begins, once read
};

// The index of "</name" in `text` from `from` on, as a raw-text element ends; its length when
// there is none.
size_t EndTagOf(const std::string& text, size_t from, const char* name) {
    const size_t k = std::char_traits<char>::length(name);
    for (size_t i = text.find("</", from); i != std::string::npos; i = text.find("</", i + 1)) {
        const size_t after = i + 2 + k;
        if (after <= text.size() && EqualNoCase(text.data() + i + 2, name, k) &&
            (after == text.size() || text[after] == '>' || text[after] == '/' ||
             text[after] == ' ' || text[after] == '\t' || text[after] == '\n' ||
             text[after] == '\r' || text[after] == '\f'))
            return i;
    }
    return text.size();
}

bool ContainsNoCase(const char* text, size_t length, const char* word) {
    const size_t k = std::char_traits<char>::length(word);
    for (size_t i = 0; i + k <= length; ++i)
        if (EqualNoCase(text + i, word, k)) return true;
    return false;
}

// Whether the conditions of an @import are a media list alone, which an @media block around
// the sheet's text says as well.
bool IsMediaList(const char* text, size_t length) {
    return !ContainsNoCase(text, length, "layer") && !ContainsNoCase(text, length, "supports") &&
           std::find(text, text + length, '{') == text + length;
}

// Whether `r` is an @import for print alone, which the single file leaves out.
bool IsPrintImport(const std::string& text, const FoundReference& r) {
    if (r.role != ElementRole::kImportRule || (r.context & kInAttribute)) return false;
    const char* media = text.data() + r.attributeBegin;
    const size_t length = static_cast<size_t>(r.attributeEnd - r.attributeBegin);
    return IsMediaList(media, length) && IsPrintOnly(media, length);
}

// Whether a sheet's text may stand in the place of the @import that names it: one that must
// come first in its sheet (@namespace), or is read in an encoding of its own, may not.
bool MayStandInPlace(const std::string& sheet) {
    if (sheet.compare(0, 3, "\xEF\xBB\xBF") == 0) return false;
    if (StartsWithNoCase(sheet.data(), sheet.size(), "@charset") &&
        !StartsWithNoCase(sheet.data(), sheet.size(), "@charset \"utf-8\";"))
        return false;
    return !ContainsNoCase(sheet.data(), sheet.size(), "@namespace");
}

// A file the page's scripts load, and the name they load it by.
struct Loaded {
    std::string name;
    Segments file;
};

class SingleFileWriter {
public:
    SingleFileWriter(std::string saveFolder, FileOutput& file, const StopToken& stop)
        : folder_(std::move(saveFolder)),
          file_(file),
          stop_(stop) {}

    // Writes the text of `item` (a page or a style sheet) with its references in their new
    // form.
    bool WriteText(const Segments& item, TextKind kind, Output& out, int level);

    FetchResult failure() const {
        if (file_.tooLarge()) return SizeLimitResult(mostBytes_);
        return failure_;
    }
    void SetMostBytes(int64_t mostBytes) { mostBytes_ = mostBytes; }
    // Whether the page is written without what its look can do without.
    void SetCompactPage(bool compact) { compactPage_ = compact; }
    // The files the page's scripts load by names they make, which a loader hands them.
    void SetScriptLoads(std::vector<Loaded> loads) { loads_ = std::move(loads); }

private:
    std::string PathOf(const Segments& item) const {
        std::string path = folder_;
        for (const std::string& s : item) path += "\\" + s;
        return path;
    }
    bool Read(const Segments& item, std::string* text);
    bool WriteReference(const std::string& text, const FoundReference& r, const Segments& at,
                        Output& out, EditedCopy& copy, int level);
    bool Learn(const std::string& text, TextKind kind, const Segments& at, int level,
               PageFacts* facts);
    bool LearnScript(const std::string& text, const FoundReference& r, const Segments& at,
                     PageFacts* facts);
    bool LearnLoaded(PageFacts* facts);
    bool WriteDataUrl(const Segments& item, PageKind kind, const std::string& fragment,
                      Output& out, int level);
    bool WriteLoader(Output& out, int level);
    bool WriteLoaded(const std::vector<const Loaded*>& saved, Output& out, int level);
    bool LocalItem(const std::string& text, const FoundReference& r, const Segments& at,
                   Segments* item, std::string* fragment);
    bool ImportsAsText(const std::string& text, const std::vector<FoundReference>& references,
                       const Segments& at, int level);
    bool WriteImport(const std::string& text, const FoundReference& r, const Segments& at,
                     TextKind kind, Output& out, EditedCopy& copy, int level);
    bool Fail(const FetchResult& result) {
        if (failure_.ok()) failure_ = result;
        return false;
    }
    // Whether `item` is written empty: too deep, or inside itself.
    bool CutAt(const Segments& item, int level) const {
        return level > MOST_EMBEDDING_LEVELS ||
               std::find(open_.begin(), open_.end(), item) != open_.end();
    }

    std::string folder_;
    FileOutput& file_;
    const StopToken& stop_;
    int64_t mostBytes_ = 0;
    bool compactPage_ = false;
    std::vector<Loaded> loads_;
    const PageFacts* facts_ = nullptr;  // those of the page being written, when known
    std::vector<Segments> open_;  // the texts being written, outermost first
    FetchResult failure_;
};

// Reads a saved item whole: one item at a time is held, and none larger than the room left.
bool SingleFileWriter::Read(const Segments& item, std::string* text) {
    const std::string path = PathOf(item);
    const int64_t size = platform::FileSize(path.c_str());
    if (size < 0) return Fail(FetchStatus::kReadFailed);
    if (size > file_.room() || size > INT32_MAX) return Fail(SizeLimitResult(mostBytes_));
    return platform::ReadWholeFile(path.c_str(), text) || Fail(FetchStatus::kReadFailed);
}

bool SingleFileWriter::WriteText(const Segments& item, TextKind kind, Output& out, int level) {
    std::string text;
    if (!Read(item, &text)) return false;
    const Segments folder(item.begin(), item.end() - 1);
    // A page written into the file (not one the reader may save under another name) is
    // written without what its look can do without.
    const bool compact =
        kind == TextKind::kStyleSheet || (kind == TextKind::kHtml && (level > 0 || compactPage_));
    // The CSS written inside a page is read against that page's facts.
    PageFacts facts;
    const PageFacts* outer = facts_;
    if (compact && kind == TextKind::kHtml) {
        if (!Learn(text, TextKind::kHtml, folder, level, &facts) ||
            (level == 0 && !LearnLoaded(&facts)))
            return false;
        facts_ = &facts;
    }
    MarkupEdits edits(facts.kept, facts_, compact);
    References references(stop_, text, &edits);
    if (!references.Read(kind)) return Fail(FetchStatus::kStopped);
    open_.push_back(item);
    const bool importsAsText = ImportsAsText(text, references.list, folder, level);
    if (!failure_.ok()) return false;
    EditedCopy copy(text, edits.Take());
    // The loader goes before the page's first script, when it has files to hand.
    size_t loaderAt =
        level == 0 && kind == TextKind::kHtml && !loads_.empty() && references.firstScript >= 0
            ? static_cast<size_t>(references.firstScript)
            : std::string::npos;
    auto loaderBefore = [&](size_t at) {
        if (at < loaderAt) return true;
        const size_t here = loaderAt;
        loaderAt = std::string::npos;
        return copy.To(here, out) && WriteLoader(out, level);
    };
    for (const FoundReference& r : references.list) {
        if (!loaderBefore(static_cast<size_t>(r.begin))) return false;
        // Inside what was replaced or is dropped.
        if (static_cast<size_t>(r.begin) < copy.at() || copy.Dropped(static_cast<size_t>(r.begin)))
            continue;
        if (stop_.requested()) return Fail(FetchStatus::kStopped);
        if (IsPrintImport(text, r)) {
            if (!copy.To(static_cast<size_t>(r.tagBegin), out)) return false;
            copy.SkipTo(static_cast<size_t>(r.tagEnd));
            continue;
        }
        const bool ok = importsAsText && r.role == ElementRole::kImportRule
                            ? WriteImport(text, r, folder, kind, out, copy, level)
                            : WriteReference(text, r, folder, out, copy, level);
        if (!ok) return false;
    }
    open_.pop_back();
    facts_ = outer;
    return loaderBefore(text.size()) && copy.To(text.size(), out);
}

// The loader, with each file the page's scripts load that is there.
bool SingleFileWriter::WriteLoader(Output& out, int level) {
    std::vector<const Loaded*> saved;
    for (const Loaded& load : loads_)
        if (platform::FileExists(PathOf(load.file).c_str())) saved.push_back(&load);
    if (saved.empty()) return true;
    // What a loaded sheet styles is made at run time: its rules all stay.
    const PageFacts* outer = facts_;
    facts_ = nullptr;
    const bool written = WriteLoaded(saved, out, level);
    facts_ = outer;
    return written;
}

bool SingleFileWriter::WriteLoaded(const std::vector<const Loaded*>& saved, Output& out,
                                   int level) {
    if (!out.Put(LoaderStart())) return false;
    for (const Loaded* load : saved) {
        const std::string name = LoaderName(load->name);
        if (!out.Put(load == saved.front() ? "[\"" : ",[\"") ||
            !out.Put(name.data(), name.size()) || !out.Put("\",\"") ||
            !WriteDataUrl(load->file, KIND_PICTURE, "", out, level) || !out.Put("\"]"))
            return false;
    }
    return out.Put(LoaderEnd());
}

// Adds to `facts` what the markup of page `text` and its scripts say, and what its CSS
// keeps, and that of the saved sheets it names, all the way down.
bool SingleFileWriter::Learn(const std::string& text, TextKind kind, const Segments& at,
                             int level, PageFacts* facts) {
    facts->kept.AddFromCss(text.data(), text.size());
    References references(stop_, text, nullptr, kind == TextKind::kHtml ? facts : nullptr);
    if (!references.Read(kind)) return Fail(FetchStatus::kStopped);
    for (const FoundReference& r : references.list) {
        if (r.role == ElementRole::kScriptSource || r.role == ElementRole::kLateScriptSource) {
            if (!LearnScript(text, r, at, facts)) return false;
            continue;
        }
        Segments item;
        std::string fragment, sheet;
        if (r.kind != KIND_STYLE_SHEET || !LocalItem(text, r, at, &item, &fragment) ||
            CutAt(item, level + 1))
            continue;
        if (!Read(item, &sheet)) return false;
        open_.push_back(item);
        const bool ok = Learn(sheet, TextKind::kStyleSheet, Segments(item.begin(), item.end() - 1),
                              level + 1, facts);
        open_.pop_back();
        if (!ok) return false;
    }
    return true;
}

// Adds the words of the script `r` of page `text` names to `facts`: one that is not saved
// stays out of the page, and what it may do is unknown.
bool SingleFileWriter::LearnScript(const std::string& text, const FoundReference& r,
                                   const Segments& at, PageFacts* facts) {
    Segments item;
    std::string fragment, script;
    if (!LocalItem(text, r, at, &item, &fragment)) {
        facts->changeable = true;
        return true;
    }
    if (!Read(item, &script)) return false;
    facts->AddWords(script.data(), script.size());
    return true;
}

// Adds the words of the texts the page's scripts load to `facts`: they may name classes and
// ids the page's elements get.
bool SingleFileWriter::LearnLoaded(PageFacts* facts) {
    for (const Loaded& load : loads_) {
        const Segments& item = load.file;
        const std::string& name = item.back();
        const std::string type = MediaTypeOf(name.data(), name.size(), nullptr, 0);
        if (type.compare(0, 6, "image/") == 0 || type.compare(0, 5, "font/") == 0 ||
            !platform::FileExists(PathOf(item).c_str()))
            continue;
        std::string text;
        if (!Read(item, &text)) return false;
        facts->AddWords(text.data(), text.size());
    }
    return true;
}

// The saved file reference `r` of `text` names, read against the folder `at`; false for an
// address or an item not saved.
bool SingleFileWriter::LocalItem(const std::string& text, const FoundReference& r,
                                 const Segments& at, Segments* item, std::string* fragment) {
    char value[4 * URL_TEXT_SIZE];
    const int32_t n =
        DecodeValue(text.data() + r.begin, r.end - r.begin, r.context, value, sizeof value);
    return n > 0 && LocalFile(std::string(value, static_cast<size_t>(n)), at, item, fragment) &&
           platform::FileExists(PathOf(*item).c_str());
}

// Whether every @import of `text` (read against the folder `at`) can be written as the text of
// its sheet in place: each names a saved sheet under a media list at most, and so, all the
// way down, do the imports of those sheets. Then none is left to follow a rule, where it
// would not count. A sheet cut from the chain is written as nothing.
bool SingleFileWriter::ImportsAsText(const std::string& text,
                                     const std::vector<FoundReference>& references,
                                     const Segments& at, int level) {
    for (const FoundReference& r : references) {
        if (r.role != ElementRole::kImportRule || IsPrintImport(text, r)) continue;
        Segments item;
        std::string fragment, sheet;
        if ((r.context & kInAttribute) ||
            !IsMediaList(text.data() + r.attributeBegin,
                         static_cast<size_t>(r.attributeEnd - r.attributeBegin)) ||
            !LocalItem(text, r, at, &item, &fragment))
            return false;
        if (CutAt(item, level + 1)) continue;
        if (!Read(item, &sheet) || !MayStandInPlace(sheet)) return false;
        References inner(stop_, sheet);
        if (!inner.Read(TextKind::kStyleSheet)) return Fail(FetchStatus::kStopped);
        open_.push_back(item);
        const bool asText =
            ImportsAsText(sheet, inner.list, Segments(item.begin(), item.end() - 1), level + 1);
        open_.pop_back();
        if (!asText) return false;
    }
    return true;
}

// The @import `r` as the text of its sheet, inside an @media block for its media list.
bool SingleFileWriter::WriteImport(const std::string& text, const FoundReference& r,
                                   const Segments& at, TextKind kind, Output& out,
                                   EditedCopy& copy, int level) {
    Segments item;
    std::string fragment;
    LocalItem(text, r, at, &item, &fragment);
    if (!copy.To(static_cast<size_t>(r.tagBegin), out)) return false;
    copy.SkipTo(static_cast<size_t>(r.tagEnd));
    if (CutAt(item, level + 1)) return true;
    std::string media(text, static_cast<size_t>(r.attributeBegin),
                      static_cast<size_t>(r.attributeEnd - r.attributeBegin));
    const size_t first = media.find_first_not_of(" \t\r\n\f");
    media = first == std::string::npos
                ? ""
                : media.substr(first, media.find_last_not_of(" \t\r\n\f") + 1 - first);
    if (!media.empty() &&
        (!out.Put("@media ") || !out.Put(media.data(), media.size()) || !out.Put("{")))
        return false;
    // In a page, the sheet's text stands in a style element.
    RawTextOutput style(out, "style");
    Output& sheet = kind == TextKind::kHtml ? static_cast<Output&>(style) : out;
    if (!WriteText(item, TextKind::kStyleSheet, sheet, level + 1) || !style.Finish()) return false;
    return media.empty() || out.Put("}");
}

bool SingleFileWriter::WriteReference(const std::string& text, const FoundReference& r,
                                      const Segments& at, Output& out, EditedCopy& copy,
                                      int level) {
    if (!IsWrittenAnew(r)) return true;
    Segments item;
    std::string fragment;
    if (!LocalItem(text, r, at, &item, &fragment)) return true;  // an address, or nothing saved
    auto copyTo = [&](size_t to) { return copy.To(to, out); };
    const size_t tagBegin = static_cast<size_t>(r.tagBegin);
    const size_t tagEnd = static_cast<size_t>(r.tagEnd);
    const size_t attributeBegin = static_cast<size_t>(r.attributeBegin);
    const size_t attributeEnd = static_cast<size_t>(r.attributeEnd);
    switch (r.role) {
        case ElementRole::kPreloadLink:
            // It would only fetch ahead what the page holds already.
            if (!copyTo(tagBegin)) return false;
            copy.SkipTo(tagEnd);
            return true;
        case ElementRole::kStyleSheetLink: {
            // "<link" becomes "<style", with the tag's other attributes (media, title, ...).
            if (!copyTo(tagBegin) || !out.Put("<style")) return false;
            copy.SkipTo(tagBegin + 5);
            if (!copyTo(attributeBegin)) return false;
            copy.SkipTo(attributeEnd);
            if (!copyTo(tagEnd)) return false;
            RawTextOutput sheet(out, "style");
            if (!CutAt(item, level + 1) &&
                !WriteText(item, TextKind::kStyleSheet, sheet, level + 1))
                return false;
            return sheet.Finish() && out.Put("</style>");
        }
        case ElementRole::kScriptSource: {
            std::string script;
            if (!Read(item, &script)) return false;
            // A comment opener in a script can keep its element's end tag from ending it:
            // such a script goes into the page as a data: URL instead.
            if (script.find("<!--") != std::string::npos) break;
            if (!copyTo(attributeBegin)) return false;
            copy.SkipTo(attributeEnd);
            if (!copyTo(tagEnd)) return false;
            RawTextOutput inline_(out, "script");
            if (!inline_.Put(script.data(), script.size()) || !inline_.Finish()) return false;
            // What stood inside the element is not run beside a src.
            copy.SkipTo(EndTagOf(text, tagEnd, "script"));
            return true;
        }
        case ElementRole::kFrameSource: {
            if (!copyTo(attributeBegin) || !out.Put("srcdoc=\"")) return false;
            copy.SkipTo(attributeEnd);
            AttributeOutput document(out);
            if (!CutAt(item, level + 1) && !WriteText(item, TextKind::kHtml, document, level + 1))
                return false;
            return out.Put("\"");
        }
        case ElementRole::kValue:
        case ElementRole::kGetFormAction:
        case ElementRole::kImportRule:
        case ElementRole::kLateScriptSource: break;
    }
    if (!copyTo(static_cast<size_t>(r.begin))) return false;
    copy.SkipTo(static_cast<size_t>(r.end));
    // What a rule that matches nothing names is never shown nor fetched.
    if ((r.context & kInCss) && !(r.context & kInAttribute) && facts_ &&
        facts_->NeverMatches(text.data(), static_cast<size_t>(r.begin)))
        return out.Put("data:,");
    return WriteDataUrl(item, r.kind, fragment, out, level);
}

bool SingleFileWriter::WriteDataUrl(const Segments& item, PageKind kind,
                                    const std::string& fragment, Output& out, int level) {
    if (kind == KIND_STYLE_SHEET || kind == KIND_FRAME) {
        const bool sheet = kind == KIND_STYLE_SHEET;
        if (!out.Put(sheet ? "data:text/css;base64," : "data:text/html;base64,")) return false;
        Base64Output coded(out);
        if (!CutAt(item, level + 1) &&
            !WriteText(item, sheet ? TextKind::kStyleSheet : TextKind::kHtml, coded, level + 1))
            return false;
        return coded.Finish();
    }
    std::string bytes;
    if (!Read(item, &bytes)) return false;
    const std::string& name = item.back();
    const char* type = MediaTypeOf(name.data(), name.size(), bytes.data(),
                                   std::min<size_t>(bytes.size(), 16));
    if (!out.Put("data:") || !out.Put(type) || !out.Put(";base64,")) return false;
    Base64Output coded(out);
    return coded.Put(bytes.data(), bytes.size()) && coded.Finish() &&
           out.Put(fragment.data(), fragment.size());
}

}  // namespace

FetchResult WriteSingleFile(const char* saveFolder, const char* savedPage, const char* filePath,
                            int64_t mostBytes, const std::vector<ScriptLoad>& scriptLoads,
                            const StopToken& stop) {
    Segments page;
    if (!SegmentsBelow(saveFolder, savedPage, &page)) return FetchStatus::kReadFailed;
    std::vector<Loaded> loads;
    for (const ScriptLoad& load : scriptLoads) {
        Loaded item{load.name, {}};
        if (SegmentsBelow(saveFolder, load.file, &item.file) && item.file != page)
            loads.push_back(std::move(item));
    }
    FileOutput file(filePath, mostBytes);
    if (!file.opened()) return FetchStatus::kWriteFailed;
    SingleFileWriter writer(saveFolder, file, stop);
    writer.SetMostBytes(mostBytes);
    writer.SetScriptLoads(std::move(loads));
    // A file a browser reads as HTML; XHTML would need every quote.
    const std::string name(filePath);
    const size_t dot = name.rfind('.');
    writer.SetCompactPage(dot != std::string::npos &&
                          (IsWordNoCase(name.data() + dot, name.size() - dot, ".html") ||
                           IsWordNoCase(name.data() + dot, name.size() - dot, ".htm")));
    if (!writer.WriteText(page, TextKind::kHtml, file, 0)) {
        FetchResult failure = writer.failure();
        return failure.ok() ? FetchResult(FetchStatus::kWriteFailed) : failure;
    }
    if (!file.Finish()) {
        return file.tooLarge() ? SizeLimitResult(mostBytes) : FetchResult(FetchStatus::kWriteFailed);
    }
    return FetchStatus::kOk;
}

}  // namespace qm
