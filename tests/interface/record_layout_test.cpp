// The records cross the library boundary as plain memory; the library and its callers
// agree on every offset. The 32-bit sizes are also asserted by the header itself.
#include <gtest/gtest.h>

#include <cstddef>

#include "qm_url.h"

TEST(RecordLayout, FieldsStandInTheirOrder) {
    EXPECT_EQ(offsetof(SaveOptions, savePages), 0u);
    EXPECT_EQ(offsetof(SaveOptions, savePictures), 4u);
    EXPECT_EQ(offsetof(SaveOptions, sameSiteOnly), 8u);
    EXPECT_EQ(offsetof(SaveOptions, maxDepth), 12u);
    EXPECT_EQ(sizeof(SaveOptions), 16u);

    EXPECT_EQ(offsetof(PageRecord, prev), 0u);
    EXPECT_EQ(offsetof(PageRecord, next), 4u);
    EXPECT_EQ(offsetof(PageRecord, url), 8u);
    EXPECT_EQ(offsetof(PageRecord, localPath), 8u + URL_TEXT_SIZE);
    EXPECT_EQ(offsetof(PageRecord, inUse), 8u + URL_TEXT_SIZE + LOCAL_PATH_SIZE);
    EXPECT_EQ(offsetof(PageRecord, referer), 9u + URL_TEXT_SIZE + LOCAL_PATH_SIZE);
    EXPECT_EQ(offsetof(PageRecord, kind), 9u + 2 * URL_TEXT_SIZE + LOCAL_PATH_SIZE);
    EXPECT_EQ(offsetof(PageRecord, depth), 10u + 2 * URL_TEXT_SIZE + LOCAL_PATH_SIZE);
    EXPECT_EQ(offsetof(PageRecord, sameSite), 1296u);
    EXPECT_EQ(sizeof(PageRecord), 1300u);
}

TEST(RecordLayout, UrlRequestIsFortyBytesInThe32BitBuild) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "pointers are wider in this build";
    EXPECT_EQ(offsetof(UrlRequest, url), 0u);
    EXPECT_EQ(offsetof(UrlRequest, urlLength), 4u);
    EXPECT_EQ(offsetof(UrlRequest, useHttp10), 8u);
    EXPECT_EQ(offsetof(UrlRequest, omitAccept), 12u);
    EXPECT_EQ(offsetof(UrlRequest, referer), 16u);
    EXPECT_EQ(offsetof(UrlRequest, refererLength), 20u);
    EXPECT_EQ(offsetof(UrlRequest, reserved), 24u);
    EXPECT_EQ(sizeof(UrlRequest), 40u);
}

TEST(RecordLayout, ConstantsHaveTheirAgreedValues) {
    EXPECT_EQ(FETCH_BUFFER_SIZE, 10485760);
    EXPECT_EQ(URL_TEXT_SIZE, 512);
    EXPECT_EQ(LOCAL_PATH_SIZE, 260);
    EXPECT_EQ(PAGE_TABLE_SIZE, 131072);
}
