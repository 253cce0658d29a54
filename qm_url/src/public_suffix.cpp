#include "public_suffix.h"

#include <algorithm>
#include <iterator>

namespace qm {
namespace {

// Suffixes of more than one label, sorted for the binary search. Every name of one label
// counts as a suffix without being listed, as the Public Suffix List's default rule says.
// clang-format off
constexpr std::string_view kSuffixes[] = {
    "ac.in", "ac.jp", "ac.kr", "ac.nz", "ac.th", "ac.uk", "ac.za", "ad.jp", "appspot.com", "asn.au",
    "azurewebsites.net", "blogspot.com", "cloudfront.net", "co.at", "co.id", "co.il", "co.in",
    "co.jp", "co.ke", "co.kr", "co.nz", "co.th", "co.uk", "co.za", "com.ar", "com.au", "com.br",
    "com.cn", "com.co", "com.eg", "com.es", "com.hk", "com.mx", "com.my", "com.ng", "com.pe",
    "com.ph", "com.pk", "com.pl", "com.sa", "com.sg", "com.tr", "com.tw", "com.ua", "com.vn",
    "ed.jp", "edu.au", "edu.cn", "edu.hk", "edu.tw", "firebaseapp.com", "github.io", "gitlab.io",
    "go.jp", "go.kr", "gob.mx", "gov.au", "gov.br", "gov.cn", "gov.in", "gov.uk", "govt.nz",
    "gr.jp", "herokuapp.com", "id.au", "lg.jp", "ltd.uk", "me.uk", "ne.jp", "net.au", "net.br",
    "net.cn", "net.in", "net.nz", "net.uk", "netlify.app", "nhs.uk", "or.jp", "or.kr", "org.au",
    "org.br", "org.cn", "org.in", "org.mx", "org.nz", "org.tw", "org.uk", "org.za", "pages.dev",
    "plc.uk", "s3.amazonaws.com", "sch.uk", "vercel.app", "web.app", "workers.dev",
};
// clang-format on

}  // namespace

bool IsPublicSuffix(std::string_view domain) {
    if (domain.empty()) return true;
    if (domain.find('.') == std::string_view::npos) return true;
    return std::binary_search(std::begin(kSuffixes), std::end(kSuffixes), domain);
}

}  // namespace qm
