// The records cross the library boundary as plain memory, so callers rely on every offset.
// The header itself asserts their sizes in the 32-bit build.
#include <gtest/gtest.h>

#include <cstddef>

#include "qm_url.h"

TEST(RecordLayout, FieldsStandWhereCallersExpectThem) {
    EXPECT_EQ(offsetof(SaveOptions, savePictures), 4u);
    EXPECT_EQ(offsetof(SaveOptions, sameSiteOnly), 8u);
    EXPECT_EQ(offsetof(SaveOptions, maxDepth), 12u);
    EXPECT_EQ(offsetof(PageRecord, next), 4u);
    EXPECT_EQ(offsetof(PageRecord, url), 8u);
    EXPECT_EQ(offsetof(PageRecord, localPath), 520u);
    EXPECT_EQ(offsetof(PageRecord, inUse), 780u);
    EXPECT_EQ(offsetof(PageRecord, referer), 781u);
    EXPECT_EQ(offsetof(PageRecord, kind), 1293u);
    EXPECT_EQ(offsetof(PageRecord, depth), 1294u);
    EXPECT_EQ(offsetof(PageRecord, sameSite), 1296u);
    if (sizeof(void*) != 4) return;  // UrlRequest holds pointers, wider in this build
    EXPECT_EQ(offsetof(UrlRequest, urlLength), 4u);
    EXPECT_EQ(offsetof(UrlRequest, useHttp10), 8u);
    EXPECT_EQ(offsetof(UrlRequest, omitAccept), 12u);
    EXPECT_EQ(offsetof(UrlRequest, referer), 16u);
    EXPECT_EQ(offsetof(UrlRequest, refererLength), 20u);
    EXPECT_EQ(offsetof(UrlRequest, reserved), 24u);
}
