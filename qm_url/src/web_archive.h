// The web archive a save may write beside its files: a WARC/1.1 file (ISO 28500) in which
// every exchange of the save is a request record and a response record, the response as it
// came off the connection, each record a gzip member of its own. Records are written whole,
// one at a time, from any thread; the file is made under a temporary name beside its own and
// renamed into place when the save ends, so that it always ends on a whole record. Its CDXJ
// index is written beside it then.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "cdxj_index.h"
#include "exchange_capture.h"

namespace qm {

namespace platform {
class TempFile;
}

// WARC-Date: `when` in UTC as YYYY-MM-DDThh:mm:ssZ.
std::string WarcDate(std::time_t when);

class WebArchive {
public:
    WebArchive();
    ~WebArchive();
    WebArchive(const WebArchive&) = delete;
    WebArchive& operator=(const WebArchive&) = delete;

    // Begins the archive that is to become `path`, with its warcinfo record. False when the
    // temporary file cannot be written.
    bool Open(const std::string& path);
    // A capture for one exchange, its large response kept beside the archive.
    std::unique_ptr<ExchangeCapture> NewCapture() const;
    // Records the exchange with `url` that `capture` holds: its request, and its response
    // when a byte of one came. Nothing when the request was never sent.
    void Record(const char* url, const ExchangeCapture& capture);
    // Puts the archive and its index in place. False, with no archive left, when a record or
    // the index could not be written whole.
    bool Finish();
    const std::string& path() const { return path_; }

private:
    std::string NewRecordId();
    bool WriteRecord(const std::string& header, const std::string& block,
                     const ExchangeCapture* response);

    std::string path_;
    std::string indexPath_;
    std::mutex mutex_;
    std::unique_ptr<platform::TempFile> file_;
    std::mt19937_64 random_;
    std::string warcinfoId_;
    CdxjIndex index_;
    int64_t written_ = 0;  // bytes of the archive's file
    bool sound_ = false;
};

}  // namespace qm
