#include "found_items.h"

#include <cstring>

#include "names.h"

namespace qm {
namespace {

void Append(CrawlState& state, int32_t& head, int32_t& tail, int32_t index) {
    PageRecord& r = state.record(index);
    r.prev = tail;
    r.next = NO_RECORD;
    if (tail != NO_RECORD) state.record(tail).next = index;
    else head = index;
    tail = index;
}

}  // namespace

bool WillBeSaved(PageKind kind, int32_t depth, bool sameSite, const SaveOptions& options,
                 CrawlVariant variant) {
    if (variant == CrawlVariant::kPictures)
        return kind == KIND_PICTURE || kind == KIND_STYLE_SHEET || kind == KIND_FRAME ||
               (kind == KIND_PAGE && depth <= options.maxDepth);
    switch (kind) {
        case KIND_PAGE:
            return options.savePages != 0 && !(options.sameSiteOnly == 1 && !sameSite) &&
                   depth <= options.maxDepth;
        case KIND_PICTURE:
        case KIND_MEDIA: return options.savePictures != 0;
        default: return options.savePages != 0;
    }
}

FoundOnPage PageFacts(CrawlState& state) {
    FoundOnPage facts;
    facts.folderLength = std::strlen(state.saveFolder);
    facts.refererLength = std::strlen(state.current().url);
    return facts;
}

ItemChoice AddFoundItem(CrawlState& state, const FoundOnPage& found, FoundGroups& groups,
                        const char* url, size_t length, uint32_t hash, PageKind kind,
                        bool sameSite, const SaveOptions& options) {
    ItemChoice choice;
    choice.entry = state.FindUrl(url, length, hash);
    if (choice.entry >= 0) {
        UrlFate fate = state.entry(choice.entry).fate;
        choice.local = fate == UrlFate::kQueued || fate == UrlFate::kSaved;
        if (fate != UrlFate::kNotSaved) return choice;
    }
    const PageRecord& page = state.current();
    int32_t depth = page.depth;
    if (kind == KIND_PAGE && depth < 255) ++depth;
    int32_t level = kind == KIND_PAGE ? 0 : state.levelOf(state.currentIndex) + 1;
    if (!WillBeSaved(kind, depth, sameSite, options, state.variant) ||
        level > MOST_EMBEDDING_LEVELS || !state.TakeItem(std::string_view(url, length))) {
        if (choice.entry < 0) choice.entry = state.AddUrl(url, length, hash);
        return choice;
    }

    // Room for the name beside the save folder and its separator.
    const size_t folderLength = found.folderLength;
    size_t room = LOCAL_PATH_SIZE - folderLength - (folderLength > 0 ? 1 : 0);
    char name[LOCAL_PATH_SIZE];
    char path[LOCAL_PATH_SIZE];
    if (choice.entry < 0) choice.entry = state.AddUrl(url, length, hash);
    size_t nameLength = MakeLocalName(url, length, kind, name, room);
    size_t pathLength =
        nameLength > 0 && state.names.Claim(name, &nameLength, room, url)
            ? JoinSaveFolder(state.saveFolder, folderLength, name, nameLength, path, sizeof path)
            : 0;
    if (pathLength == 0) {
        state.entry(choice.entry).fate = UrlFate::kFailed;
        return choice;
    }
    int32_t index = state.Allocate();
    if (index == NO_RECORD) {
        choice.outOfRecords = true;
        return choice;
    }
    if (kind == KIND_PAGE) Append(state, groups.linkHead, groups.linkTail, index);
    else Append(state, groups.embeddedHead, groups.embeddedTail, index);
    PageRecord& r = state.record(index);
    std::memcpy(r.url, url, length);
    r.url[length] = '\0';
    std::memcpy(r.localPath, path, pathLength + 1);
    std::memcpy(r.referer, page.url, found.refererLength + 1);
    r.kind = kind;
    r.depth = static_cast<uint8_t>(depth);
    r.sameSite = sameSite ? 1 : 0;
    state.entryOf(index) = choice.entry;
    state.levelOf(index) = static_cast<uint8_t>(level);
    state.SetLocalName(choice.entry, std::string_view(name, nameLength));
    state.entry(choice.entry).fate = UrlFate::kQueued;
    choice.local = true;
    return choice;
}

}  // namespace qm
