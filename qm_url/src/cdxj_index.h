// The index of a web archive that replay tools read beside it: one CDXJ line per response
// record, "urlkey timestamp {json}", sorted, where urlkey is the URL in SURT form (host parts
// reversed, "www." dropped, query arguments sorted) and the JSON names the record's place in
// the archive file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// `url` in SURT form, as replay tools key their indexes: "http://www.Example.org:8080/a?b=1&a=2"
// is "org,example:8080)/a?a=2&b=1". A URL that is not http or https stays as it is.
std::string SurtKey(const std::string& url);

class CdxjIndex {
public:
    // A response record of `url` at `offset` in the archive, `length` bytes long (its gzip
    // member), whose response begins with `head` (its status line and header, or what came).
    void Add(const std::string& url, const std::string& warcDate, const std::string& head,
             const std::string& payloadDigest, int64_t offset, int64_t length);
    // The index of the archive named `archiveName`, sorted.
    std::string Text(const std::string& archiveName) const;

private:
    struct Entry {
        std::string key;  // urlkey and timestamp
        std::string url, mime, status, digest;
        int64_t offset, length;
    };
    std::vector<Entry> entries_;
};

}  // namespace qm
