/* qm_url: fetches pages over HTTP and saves them, with their pictures, frames, style sheets
 * and linked pages, for reading offline.
 *
 * Plain C interface. Every buffer passed in belongs to the caller and must stay valid for the
 * whole call. The library keeps process-wide state: one call at a time per process
 * (qm_StopSave excepted, which any thread may call while a call runs). */
#ifndef QM_URL_H
#define QM_URL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  define QM_CALL __cdecl
#  define QM_CALLBACK __stdcall
#  if defined(QM_URL_BUILD)
#    define QM_API __declspec(dllexport)
#  elif defined(QM_URL_STATIC)
#    define QM_API
#  else
#    define QM_API __declspec(dllimport)
#  endif
#else
#  define QM_CALL
#  define QM_CALLBACK
#  define QM_API __attribute__((visibility("default")))
#endif

/* Receive area, decode area and the least size of every fetch output buffer (10 MiB). */
#define FETCH_BUFFER_SIZE 10485760
/* The longest a fetch may take, redirects included (10 minutes). Besides it, a fetch fails
 * when its connection stays silent for 60 seconds. */
#define FETCH_TIME_LIMIT_SECONDS 600
/* Redirects (301, 302, 303, 307, 308) followed by the crawling exports and qm_UrlToHtmlFollow. */
#define MOST_REDIRECTS 5
/* URL and referer texts: at most 511 characters and a NUL. */
#define URL_TEXT_SIZE 512
/* Local paths: at most 259 characters and a NUL. */
#define LOCAL_PATH_SIZE 260
/* Records in the page table. */
#define PAGE_TABLE_SIZE 131072
/* Items embedded in embedded items (a frame's frames, the style sheets a style sheet
 * imports, ...) are followed this many levels below the page that holds them; deeper ones
 * are named by their address. */
#define MOST_EMBEDDING_LEVELS 8
/* The bytes of item bodies a save holds at once from qm_GiveOfferedItem (64 MiB). */
#define MOST_GIVEN_BYTES 67108864
/* What one save of the crawling exports takes at most: items, the start page included, and
 * bytes written (4 GiB). Past either it takes no new item (see qm_SavePages). */
#define SAVE_BUDGET_ITEMS PAGE_TABLE_SIZE
#define SAVE_BUDGET_BYTES 4294967296LL
/* "No record" in every index field. */
#define NO_RECORD (-1)

/* One HTTP GET. 40 bytes in the 32-bit build. */
typedef struct UrlRequest {
    const char* url;       /* NUL-terminated even when urlLength is given */
    int32_t urlLength;     /* 0: measure up to the NUL; above 1024 fails */
    int32_t useHttp10;     /* 0: HTTP/1.1, else HTTP/1.0 */
    int32_t omitAccept;    /* 0: send the Accept line */
    const char* referer;   /* NULL: no Referer line */
    int32_t refererLength; /* 0: measure (and store it back); 256 or more: no Referer line */
    uint8_t reserved[16];  /* not read; set to zero */
} UrlRequest;

/* Options of the crawling exports. 16 bytes. */
typedef struct SaveOptions {
    int32_t savePages;    /* 0: pages, style sheets, frames, scripts and fonts are not fetched */
    int32_t savePictures; /* 0: pictures and media files are not fetched */
    int32_t sameSiteOnly; /* exactly 1: links to other sites are neither fetched nor rewritten */
    int32_t maxDepth;     /* largest link depth crawled (signed) */
} SaveOptions;

/* What a page record holds. */
typedef uint8_t PageKind;
enum {
    KIND_PAGE = 1,        /* a linked page; also the start page */
    KIND_PICTURE = 2,     /* a picture */
    KIND_STYLE_SHEET = 3, /* a style sheet */
    KIND_FRAME = 4,       /* the document of a frame */
    KIND_SCRIPT = 5,      /* a script (script src, link rel=modulepreload or preload as=script) */
    KIND_FONT = 6,        /* a font or other file a style sheet or preload names */
    KIND_MEDIA = 7        /* audio, video and their tracks, object data, embed src */
};
/* Kinds 3 to 6 are fetched when savePages is set, kinds 2 and 7 when savePictures is.
 * Kinds 2, 5, 6 and 7 are saved beside the pictures under the same naming rule. */

/* One entry of the page table. */
typedef struct PageRecord {
    int32_t prev;                    /* previous record in the queue, or NO_RECORD */
    int32_t next;                    /* next record in the queue, or NO_RECORD */
    char url[URL_TEXT_SIZE];         /* absolute URL of the item */
    char localPath[LOCAL_PATH_SIZE]; /* file the item is saved to */
    uint8_t inUse;                   /* 1 while queued and not yet visited */
    char referer[URL_TEXT_SIZE];     /* page the item was found on; empty for the start page */
    PageKind kind;
    uint8_t depth;    /* link depth; 0 for the start page */
    int32_t sameSite; /* 1 when on the site of the page it was found on */
} PageRecord;

/* Called once per fetched item, after the fetch and before its file is written, on the
 * caller's thread. The record may be read during the call only. */
typedef void(QM_CALLBACK* SavePageCallback)(int32_t recordIndex, const PageRecord* record);

/* Called once for every item a call wanted and did not get, on the caller's thread: a
 * failed qm_UrlToHtml, qm_UrlToHtmlFollow or qm_OldSavePages (recordIndex NO_RECORD, record
 * NULL), every item of a crawl that could not be fetched or written, the start page
 * included, and once the first item a save budget left out (recordIndex NO_RECORD, record
 * NULL, reason "save budget reached: ..."). url is the item's URL; reason a short English text such as "HTTP status 404",
 * "truncated after 5000 of 100000 bytes", "timed out" or "connection refused". Texts and
 * record may be read during the call only. */
typedef void(QM_CALLBACK* FailureCallback)(int32_t recordIndex, const PageRecord* record,
                                           const char* url, const char* reason);

/* Sets the failure callback of every later call in this process; NULL (the default) sets
 * none. Not to be called while another call runs. */
QM_API void QM_CALL qm_SetFailureCallback(FailureCallback callback);

/* Fetches one URL. On success (1) output holds the body (chunks joined, gzip or deflate
 * undone) and *outputLength its length; output must hold FETCH_BUFFER_SIZE bytes. A 2xx
 * or 3xx response is returned as it came (a redirect is not followed); any other status, a
 * body cut short or one that does not decode fails (0), leaving output and *outputLength
 * as they were. A body longer than FETCH_BUFFER_SIZE is returned cut there (1), and the
 * failure callback is told so ("cut at 10485760 bytes: the body is longer than the
 * buffer"); qm_UrlToFile takes bodies of any size. request->refererLength may be written.
 * `reserved` is not read. */
QM_API int32_t QM_CALL qm_UrlToHtml(UrlRequest* request, char* output, int32_t* outputLength,
                                    int32_t reserved);

/* qm_UrlToHtml following up to MOST_REDIRECTS redirects, as the crawling exports do: the
 * body is that of the first response that is not a redirect, and only a 2xx one succeeds. */
QM_API int32_t QM_CALL qm_UrlToHtmlFollow(UrlRequest* request, char* output, int32_t* outputLength,
                                          int32_t reserved);

/* Saves the page at url to savePath and, as options say, its frames, style sheets,
 * pictures and linked pages into the folder of savePath. Redirects are followed (each item
 * keeps its name and kind; a page's references are read against the URL it came from), and
 * only a 2xx response is an item's content. 1 when the crawl ran (items that cannot be
 * fetched are left out and reported to the failure callback; a start page whose file
 * exists is kept as it is), 0 when the arguments were refused or the start page could not
 * be fetched. 0 too when a save budget ended the crawl: the start page and the items taken
 * before are saved, every reference to an item left out names its address, and the failure
 * callback is told once (recordIndex NO_RECORD, record NULL, url the first item left out,
 * reason "save budget reached: N items" or "save budget reached: N bytes"). callback may
 * be NULL. */
QM_API int32_t QM_CALL qm_SavePages(const char* url, const char* savePath, SaveOptions* options,
                                    SavePageCallback callback);

/* Fetches one URL with a caller-made request and writes the body to filePath, whole, as
 * qm_UrlToFile does with a limit of SAVE_BUDGET_BYTES. reserved must point at 16 readable
 * bytes. */
QM_API int32_t QM_CALL qm_OldSavePages(UrlRequest* request, const char* filePath,
                                       const void* reserved);


/* Saves every picture of the page at url flat into the folder of savePath. Overwrites
 * *options with 1, 1, 0, 0. 1 when the crawl ran, 0 when the arguments were refused or
 * the page could not be fetched or had no room in the folder for its temporary copy, or
 * when a save budget ended the crawl (as for qm_SavePages). */
QM_API int32_t QM_CALL qm_SavePictures(const char* url, const char* savePath, SaveOptions* options,
                                       SavePageCallback callback);

/* A jar of HTTP cookies, for the calls below that take one. The cookies read into it are
 * sent back as RFC 6265 says (domain and path, Secure over https only, expiry, no cookie for
 * a public suffix), and every Set-Cookie those calls receive, redirects included, goes into
 * it. The calls without a jar keep what a site sets for that call alone, beside the system's
 * store on Windows. The jar belongs to the caller; one call at a time may use it. */
typedef struct CookieJar CookieJar;

/* Called for each line of a cookies file that holds no cookie the jar takes: its number
 * (from 1) and a short English reason. The reason may be read during the call only. */
typedef void(QM_CALLBACK* CookieLineCallback)(int32_t lineNumber, const char* reason);

/* A new, empty jar; NULL when there is no memory for one. */
QM_API CookieJar* QM_CALL qm_NewCookieJar(void);
/* Frees a jar made by qm_NewCookieJar; NULL is allowed. */
QM_API void QM_CALL qm_FreeCookieJar(CookieJar* jar);

/* Adds the cookies of a Netscape cookies.txt (as curl and browsers' export add-ons write it)
 * to jar. Each line that is not read is told to skippedLine (which may be NULL) and passed
 * over. 1 when the file was read, 0 when it could not be (nothing is added then). */
QM_API int32_t QM_CALL qm_ReadCookiesFile(CookieJar* jar, const char* path,
                                          CookieLineCallback skippedLine);
/* Writes the jar's cookies that have not expired, session cookies included (expiry 0), in
 * the same format, replacing path whole or not at all. 1 when written, else 0. */
QM_API int32_t QM_CALL qm_WriteCookiesFile(const CookieJar* jar, const char* path);

/* qm_UrlToHtml (followRedirects 0) or qm_UrlToHtmlFollow (any other value) with the cookies
 * of jar. A NULL jar is as none. */
QM_API int32_t QM_CALL qm_UrlToHtmlWithCookies(UrlRequest* request, char* output,
                                               int32_t* outputLength, int32_t followRedirects,
                                               CookieJar* jar);
/* qm_SavePages and qm_SavePictures with the cookies of jar. A NULL jar is as none. */
QM_API int32_t QM_CALL qm_SavePagesWithCookies(const char* url, const char* savePath,
                                               SaveOptions* options, SavePageCallback callback,
                                               CookieJar* jar);
QM_API int32_t QM_CALL qm_SavePicturesWithCookies(const char* url, const char* savePath,
                                                  SaveOptions* options,
                                                  SavePageCallback callback, CookieJar* jar);
/* What a crawl takes besides its options: the cookie jar its fetches share, and a web archive
 * to write beside its files. Made empty by qm_NewSaveSettings, filled by the setters below and
 * passed to qm_SavePagesWithSettings or qm_SavePicturesWithSettings, which only read it. It
 * belongs to the caller; one call at a time may use it. */
typedef struct SaveSettings SaveSettings;

/* New settings that add nothing (no jar, no archive); NULL when there is no memory for them. */
QM_API SaveSettings* QM_CALL qm_NewSaveSettings(void);
/* Frees settings made by qm_NewSaveSettings (not the jar they name); NULL is allowed. */
QM_API void QM_CALL qm_FreeSaveSettings(SaveSettings* settings);
/* The jar whose cookies the save sends and into which it keeps those set, as for
 * qm_SavePagesWithCookies; NULL (the default) is as none. The jar must outlive the save. 1 when
 * taken, 0 for a handle that is not one. */
QM_API int32_t QM_CALL qm_SetSaveCookieJar(SaveSettings* settings, CookieJar* jar);
/* Makes qm_SavePagesWithSettings save every item (siteLayout not 0), the start page included,
 * in the folders of its host and path, as the site lays them out, below the folder of
 * savePath: a page, frame or style sheet keeps its own file name (".html" added only where a
 * page's name would not open as one), and a reference between saved items is relative to the
 * folder of the item that holds it. savePath becomes a small page that opens the saved start
 * page (a refresh and a link), written once the start page is saved; the start page is fetched
 * anew even where an earlier save left its file. Where the start page's name in that tree does
 * not fit beside the folder, it is saved at savePath itself. 0 (the default) keeps the flat
 * names of qm_SavePages. 1 when taken, 0 for a handle that is not one. */
QM_API int32_t QM_CALL qm_SetSaveSiteLayout(SaveSettings* settings, int32_t siteLayout);
/* Makes qm_SavePagesWithSettings ask again for the items an earlier save left in the folder,
 * rather than keep them unseen: a page, frame or style sheet (and a script whose pictures are
 * saved) is fetched and rewritten anew, any other item only when the server says it changed
 * since the date it gave for it (Last-Modified, which its file takes; without one, the time
 * the file was written). An item that cannot be fetched again keeps its file and is reported
 * to the failure callback. Each such save writes to *reused how many items the server said
 * were unchanged. NULL (the default) keeps what is there unasked, as qm_SavePages does; a
 * picture save always does. 1 when taken, 0 for a handle that is not one or a reused that
 * cannot be written. */
QM_API int32_t QM_CALL qm_SetSaveRefresh(SaveSettings* settings, int32_t* reused);
/* A page a save has fetched, offered to the caller before it is read; valid only during the
 * call of the PageOfferCallback that receives it. */
typedef struct PageOffer PageOffer;
/* Called for each page qm_SavePagesWithSettings reads (the start page, unless it was given,
 * and every page it saves; not frames, style sheets or scripts), up to FETCH_BUFFER_SIZE
 * bytes, once it has come and before it is read: url is where it came from after redirects,
 * contentType the Content-Type it came with ("" when none), text its length bytes. The caller
 * may replace the page (qm_ReplaceOfferedPage) and give the bodies of items it already has
 * (qm_GiveOfferedItem); a callback that does neither leaves the page as it came. It runs on
 * the thread of the save; a stop asked meanwhile ends the save once it returns. */
typedef void(QM_CALLBACK* PageOfferCallback)(void* context, PageOffer* offer, const char* url,
                                             const char* contentType, const char* text,
                                             int64_t length);
/* Makes qm_SavePagesWithSettings offer each page it reads to callback, which receives context
 * as it is. NULL (the default) offers none. 1 when taken, 0 for a handle that is not one. */
QM_API int32_t QM_CALL qm_SetSavePageOffer(SaveSettings* settings, PageOfferCallback callback,
                                           void* context);
/* The offered page is read and saved as html (length bytes, copied) in place of what came,
 * found at pageUrl (NULL: where it came from). 1 when taken, 0 for an offer that is not one,
 * a negative length, an html that cannot be read or a pageUrl that is not an http or https
 * address shorter than URL_TEXT_SIZE. */
QM_API int32_t QM_CALL qm_ReplaceOfferedPage(PageOffer* offer, const char* html, int64_t length,
                                             const char* pageUrl);
/* The body of the item at url (an absolute http or https address, as the page names it once
 * resolved), which the save then takes in place of fetching it, once: body, length bytes,
 * copied, as it is to be saved (its codings undone). The save holds up to MOST_GIVEN_BYTES
 * of such bodies at once. 1 when taken; 0 when it does not fit, when url was given already, for an
 * offer that is not one, a body that cannot be read, a url that is not such an address, and
 * for a save that writes a web archive, which records every item as it came off the
 * connection. */
QM_API int32_t QM_CALL qm_GiveOfferedItem(PageOffer* offer, const char* url, const char* body,
                                          int64_t length);
/* Records every exchange of the save, redirects and failed ones included, in a web archive
 * at path: a WARC/1.1 file whose every record is a gzip member of its own (name it
 * ".warc.gz"). It opens with a warcinfo record; each request sent is a request record, and
 * each response as it came off the connection (codings not undone) a response record, the
 * two naming each other (WARC-Concurrent-To), with sha1 digests of each record's block and
 * payload in base32; a response not read to its end says so (WARC-Truncated). The file is
 * written under a temporary name beside path and put in place, replacing an older one, when
 * the save ends, stopped or not, with its CDXJ index beside it (path with ".warc.gz"
 * replaced by ".cdxj", or with ".cdxj" added): a sorted line per response record. NULL or "" (the default) writes none. 1 when taken, 0 when
 * path has LOCAL_PATH_SIZE characters or more, or the handle is not one. */
QM_API int32_t QM_CALL qm_SetSaveWebArchive(SaveSettings* settings, const char* path);
/* qm_SavePages and qm_SavePictures with settings (NULL: as none). A web archive that cannot be
 * written whole makes the call return 0, with no archive left and the failure callback told
 * (recordIndex NO_RECORD, record NULL, url the archive's path); the files saved stay saved. */
QM_API int32_t QM_CALL qm_SavePagesWithSettings(const char* url, const char* savePath,
                                                SaveOptions* options, SavePageCallback callback,
                                                const SaveSettings* settings);
QM_API int32_t QM_CALL qm_SavePicturesWithSettings(const char* url, const char* savePath,
                                                   SaveOptions* options, SavePageCallback callback,
                                                   const SaveSettings* settings);

/* Fetches one URL (following up to MOST_REDIRECTS redirects when followRedirects is not 0)
 * with the cookies of jar (NULL: none but what the server sets during the call) and writes
 * its body, whatever its size, to filePath: under a temporary name in the same folder,
 * renamed into place once the body is whole, replacing an older file. A body larger than
 * mostBytes (negative: no limit), coded or decoded, fails with the reason "larger than the
 * size limit of N bytes". 1 on success; 0 on failure, with no file left behind and the
 * reason given to the failure callback. request->refererLength may be written. */
QM_API int32_t QM_CALL qm_UrlToFile(UrlRequest* request, const char* filePath, int64_t mostBytes,
                                    int32_t followRedirects, CookieJar* jar);

/* Writes the page at savedPage, saved by qm_SavePages into the folder saveFolder (or a folder
 * below it), as one HTML file at filePath that needs nothing else: the pictures, fonts, media
 * files and style sheets it and its frames and style sheets name by their saved files are
 * written into it as data: URLs, a linked style sheet as a style element, a script inlined
 * as it came, an iframe's document as its srcdoc. Links, addresses and what was not saved
 * stay as they are; nothing above saveFolder is read. The file is written under a temporary
 * name beside filePath and renamed into place once whole. A file larger than mostBytes is not
 * written ("larger than the size limit of N bytes"). What the page's scripts load by names
 * they make at run time may be given: loadCount addresses in loadNames, as the scripts name
 * them (relative to the page), and in loadFiles the files below saveFolder that hold them
 * (both may be NULL when loadCount is 0). The file holds them in a script before the page's
 * first one, which hands each over where a script asks for it. 1 when written; 0, with no
 * file left behind and the reason given to the failure callback (url savedPage), when not. */
QM_API int32_t QM_CALL qm_WriteSingleFile(const char* saveFolder, const char* savedPage,
                                          const char* filePath, int64_t mostBytes,
                                          const char* const* loadNames,
                                          const char* const* loadFiles, int32_t loadCount);

/* Asks the calls running now, from any thread, to end: each returns within 100 ms, leaving
 * no socket or file open and no half-written file. A call is reached from the moment it has
 * begun; a stop asked while no call runs reaches none, and the next call runs normally. A
 * stopped call returns 0; the items saved before the stop stay saved. */
QM_API void QM_CALL qm_StopSave(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout the library and its callers share, in the 32-bit build. */
#if defined(_WIN32) && !defined(_WIN64)
#  ifdef __cplusplus
#    define QM_STATIC_ASSERT static_assert
#  else
#    define QM_STATIC_ASSERT _Static_assert
#  endif
QM_STATIC_ASSERT(sizeof(UrlRequest) == 40, "UrlRequest is 40 bytes");
QM_STATIC_ASSERT(sizeof(SaveOptions) == 16, "SaveOptions is 16 bytes");
QM_STATIC_ASSERT(sizeof(PageRecord) == 1300, "PageRecord is 1300 bytes");
#  undef QM_STATIC_ASSERT
#endif

#endif /* QM_URL_H */
