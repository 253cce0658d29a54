#include "page_policy.h"

#include <cstring>

namespace qm {

bool PagePolicy::Saves(PageKind kind, int32_t depth, bool sameSite,
                       const SaveOptions& options) const {
    switch (kind) {
        case KIND_PAGE:
            return options.savePages != 0 && !(options.sameSiteOnly == 1 && !sameSite) &&
                   depth <= options.maxDepth;
        case KIND_PICTURE:
        case KIND_MEDIA: return options.savePictures != 0;
        default: return options.savePages != 0;
    }
}

bool PagePolicy::Place(const CrawlState&, const PageRecord& r, const SaveOptions& options,
                       char (&path)[LOCAL_PATH_SIZE]) const {
    std::memcpy(path, r.localPath, sizeof path);
    if (r.kind == KIND_PICTURE || r.kind == KIND_MEDIA) return options.savePictures != 0;
    if (options.savePages == 0) return false;
    return !(r.kind == KIND_PAGE && r.sameSite == 0 && options.sameSiteOnly == 1);
}

}  // namespace qm
