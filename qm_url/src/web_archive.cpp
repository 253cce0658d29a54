#include "web_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ascii.h"
#include "platform/files.h"

namespace qm {
namespace {

// A response larger than this waits for its record in a temporary file beside the archive.
constexpr size_t kCaptureInMemory = size_t{1} << 20;

// One record as a gzip member of its own, deflated into the archive's file as it is given.
class GzipMember {
public:
    GzipMember(platform::TempFile& file, int64_t& written) : file_(file), written_(written) {
        ok_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                           Z_DEFAULT_STRATEGY) == Z_OK;
        begun_ = ok_;
    }
    ~GzipMember() {
        if (begun_) deflateEnd(&z_);
    }
    GzipMember(const GzipMember&) = delete;
    GzipMember& operator=(const GzipMember&) = delete;

    bool Add(const char* data, size_t length) { return Deflate(data, length, Z_NO_FLUSH); }
    bool Add(const std::string& text) { return Add(text.data(), text.size()); }
    bool End() { return Deflate(nullptr, 0, Z_FINISH); }

private:
    bool Deflate(const char* data, size_t length, int flush) {
        // zlib counts in 32 bits: a large piece goes in a few steps.
        do {
            const uInt step = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
            z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
            z_.avail_in = step;
            data += step;
            length -= step;
            const int mode = length == 0 ? flush : Z_NO_FLUSH;
            int status;
            do {
                z_.next_out = out_;
                z_.avail_out = sizeof out_;
                status = ok_ ? deflate(&z_, mode) : Z_STREAM_ERROR;
                const size_t made = sizeof out_ - z_.avail_out;
                ok_ = ok_ && status != Z_STREAM_ERROR &&
                      file_.Append(reinterpret_cast<const char*>(out_), made);
                written_ += static_cast<int64_t>(made);
            } while (ok_ && (z_.avail_out == 0 || (mode == Z_FINISH && status != Z_STREAM_END)));
        } while (ok_ && length > 0);
        return ok_;
    }

    platform::TempFile& file_;
    int64_t& written_;
    z_stream z_ = {};
    Bytef out_[16384];
    bool ok_ = false;
    bool begun_ = false;
};

std::string Digest(const std::string& bytes) {
    Sha1 hash;
    hash.Update(bytes.data(), bytes.size());
    return WarcDigest(hash);
}

// The digest of what follows the first blank line of a request text (nothing for a GET).
std::string RequestPayloadDigest(const std::string& request) {
    const size_t end = request.find("\r\n\r\n");
    return Digest(end == std::string::npos ? std::string() : request.substr(end + 4));
}

// The index beside the archive `path`: "site.warc.gz" has "site.cdxj".
std::string IndexPathOf(const std::string& path) {
    const std::string suffix = ".warc.gz";
    const bool named =
        path.size() > suffix.size() &&
        EqualNoCase(path.data() + path.size() - suffix.size(), suffix.c_str(), suffix.size());
    return (named ? path.substr(0, path.size() - suffix.size()) : path) + ".cdxj";
}

// The file name the warcinfo record gives: the last part of `path`.
std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string WarcDate(std::time_t when) {
    // Days since 1970-01-01 to a civil date (proleptic Gregorian), without the C library's
    // time zone state.
    const long long seconds = static_cast<long long>(when);
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
                  rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

WebArchive::WebArchive() = default;
WebArchive::~WebArchive() = default;

std::string WebArchive::NewRecordId() {
    // A version 4 UUID.
    uint8_t b[16];
    for (int i = 0; i < 16; i += 8) {
        const uint64_t r = random_();
        for (int j = 0; j < 8; ++j) b[i + j] = static_cast<uint8_t>(r >> (8 * j));
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3f) | 0x80);
    char text[64];
    std::snprintf(text, sizeof text,
                  "<urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x>",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                  b[13], b[14], b[15]);
    return text;
}

bool WebArchive::Open(const std::string& path) {
    path_ = path;
    indexPath_ = IndexPathOf(path);
    file_ = std::make_unique<platform::TempFile>();
    if (!file_->Create(path.c_str())) return false;
    // Seeded once from the system's random source; each record id draws from it.
    std::random_device device;
    random_.seed((uint64_t{device()} << 32) ^ device());
    warcinfoId_ = NewRecordId();
    const std::string fields = "software: qm_url\r\nformat: WARC File Format 1.1\r\n";
    const std::string header =
        "WARC/1.1\r\nWARC-Type: warcinfo\r\nWARC-Date: " + WarcDate(std::time(nullptr)) +
        "\r\nWARC-Filename: " + FileNameOf(path) + "\r\nWARC-Record-ID: " + warcinfoId_ +
        "\r\nContent-Type: application/warc-fields\r\nWARC-Block-Digest: " + Digest(fields) +
        "\r\n";
    sound_ = true;
    return WriteRecord(header, fields, nullptr);
}

std::unique_ptr<ExchangeCapture> WebArchive::NewCapture() const {
    return std::make_unique<ExchangeCapture>(path_, kCaptureInMemory);
}

void WebArchive::Record(const char* url, const ExchangeCapture& capture) {
    if (!capture.sent()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sound_) return;
    if (!capture.kept()) {
        sound_ = false;  // a response that could not be kept would be recorded cut short
        return;
    }
    const bool answered = capture.responseSize() > 0;
    const std::string requestId = NewRecordId(), responseId = answered ? NewRecordId() : "";
    const std::string date = WarcDate(capture.sentAt());
    const std::string common = "WARC-Target-URI: " + std::string(url) + "\r\nWARC-Date: " + date +
                               "\r\nWARC-Warcinfo-ID: " + warcinfoId_ + "\r\n";
    std::string request =
        "WARC/1.1\r\nWARC-Type: request\r\n" + common + "WARC-Record-ID: " + requestId + "\r\n";
    if (answered) request += "WARC-Concurrent-To: " + responseId + "\r\n";
    request += "Content-Type: application/http; msgtype=request\r\nWARC-Block-Digest: " +
               Digest(capture.request()) +
               "\r\nWARC-Payload-Digest: " + RequestPayloadDigest(capture.request()) + "\r\n";
    if (!WriteRecord(request, capture.request(), nullptr) || !answered) return;

    std::string response =
        "WARC/1.1\r\nWARC-Type: response\r\n" + common + "WARC-Record-ID: " + responseId +
        "\r\nWARC-Concurrent-To: " + requestId +
        "\r\nContent-Type: application/http; msgtype=response\r\n"
        "WARC-Block-Digest: " +
        capture.BlockDigest() + "\r\nWARC-Payload-Digest: " + capture.PayloadDigest() + "\r\n";
    if (capture.truncated() != nullptr)
        response += "WARC-Truncated: " + std::string(capture.truncated()) + "\r\n";
    const int64_t offset = written_;
    if (WriteRecord(response, std::string(), &capture))
        index_.Add(url, date, capture.head(), capture.PayloadDigest(), offset, written_ - offset);
}

bool WebArchive::WriteRecord(const std::string& header, const std::string& block,
                             const ExchangeCapture* response) {
    const int64_t length =
        response != nullptr ? response->responseSize() : static_cast<int64_t>(block.size());
    GzipMember member(*file_, written_);
    bool ok =
        member.Add(header) && member.Add("Content-Length: " + std::to_string(length) + "\r\n\r\n");
    if (response != nullptr)
        ok = ok && response->ReadResponse(
                       [&member](const char* piece, size_t n) { return member.Add(piece, n); });
    else ok = ok && member.Add(block);
    ok = ok && member.Add("\r\n\r\n", 4) && member.End();
    sound_ = sound_ && ok;
    return sound_;
}

bool WebArchive::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return false;
    if (sound_) {
        const std::string index = index_.Text(FileNameOf(path_));
        if (platform::WriteFileAtomically(indexPath_.c_str(), index.data(), index.size()) &&
            file_->RenameTo(path_.c_str()))
            return true;
    }
    file_->Remove();
    return false;
}

}  // namespace qm
