// The job text that the desktop program leaves in the shared block, and the checks that
// decide whether the renderer may act on it.
#pragma once

#include <cstddef>
#include <string>

#include "pagesnap_protocol.h"

namespace pagesnap {

struct Job {
    std::string url;   // as typed in the program's URL box
    std::string path;  // the picture is written to path + ".jpg"
};

// Reads the text before the first NUL of the block (never more than `size` bytes). The URL
// is the text before the first separator, the path the text between the first and the
// second. False when the second separator is missing: the block holds no complete job.
bool ParseJob(const char* block, std::size_t size, Job* job);

enum class UrlCheck { kOk, kEmpty, kControlCharacter, kUnsupportedScheme };

// Turns the typed address into one the browser is pointed at: surrounding blanks go, an
// address without a scheme is taken as http, and only http and https are accepted (a
// job must not make the browser open local files or browser-internal pages).
UrlCheck NormaliseUrl(const std::string& typed, std::string* url);
const char* DescribeUrlCheck(UrlCheck check);

// A full path with a drive ("C:\...") or a UNC share ("\\server\share\..."): the only
// kind the program hands over, and the only kind whose folder does not depend on where
// the renderer happens to run.
bool IsFullWindowsPath(const std::string& path);

// Where a job's log goes: path + ".log" beside the picture, or empty when the job names
// no full path (the log then goes to the shared one).
std::string JobLogPath(const Job& job);

}  // namespace pagesnap
