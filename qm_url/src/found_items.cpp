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

FoundOnPage PageFacts(CrawlState& state) {
    FoundOnPage facts;
    facts.folderLength = std::strlen(state.saveFolder);
    facts.refererLength = std::strlen(state.current().url);
    facts.room = LOCAL_PATH_SIZE - facts.folderLength - (facts.folderLength > 0 ? 1 : 0);
    facts.depth = state.current().depth;
    facts.level = state.levelOf(state.currentIndex);
    return facts;
}

namespace {

// Whether this crawl saves a new item of `kind` found on the page, the budget aside; its
// depth and level of embedding.
bool Saves(const CrawlState& state, const FoundOnPage& found, PageKind kind, bool sameSite,
           const SaveOptions& options, int32_t* depth, int32_t* level) {
    *depth = found.depth;
    if (kind == KIND_PAGE && *depth < 255) ++*depth;
    *level = kind == KIND_PAGE ? 0 : found.level + 1;
    return state.policy->Saves(kind, *depth, sameSite, options) && *level <= MOST_EMBEDDING_LEVELS;
}

}  // namespace

ItemChoice AddFoundItem(CrawlState& state, const FoundOnPage& found, FoundGroups& groups,
                        const char* url, size_t length, PageKind kind, bool sameSite,
                        const SaveOptions& options) {
    ItemChoice choice;
    uint32_t hash;
    choice.entry = state.FindUrl(url, length, &hash);
    if (choice.entry >= 0) {
        UrlFate fate = state.entry(choice.entry).fate;
        choice.local = fate == UrlFate::kQueued || fate == UrlFate::kSaved;
        if (fate != UrlFate::kNotSaved) return choice;
    }
    int32_t depth, level;
    if (!Saves(state, found, kind, sameSite, options, &depth, &level) ||
        !state.TakeItem(std::string_view(url, length))) {
        if (choice.entry < 0) choice.entry = state.AddUrl(url, length, hash);
        return choice;
    }

    if (choice.entry < 0) choice.entry = state.AddUrl(url, length, hash);
    char name[LOCAL_PATH_SIZE];
    size_t nameLength = MakeLocalName(url, length, kind, state.policy->Layout(), name, found.room);
    char path[LOCAL_PATH_SIZE];
    size_t pathLength = nameLength > 0 && state.names.Claim(name, &nameLength, found.room, url)
                            ? JoinSaveFolder(state.saveFolder, found.folderLength, name, nameLength,
                                             path, sizeof path)
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
    std::memcpy(r.referer, state.current().url, found.refererLength + 1);
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
