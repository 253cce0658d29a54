// What the failure callback is told while a FailureLog lives; the callback is set back to
// none when it goes, however the test case ends.
#pragma once

#include <string>
#include <vector>

#include "qm_url.h"

namespace qmtest {

class FailureLog {
public:
    FailureLog() {
        Clear();
        qm_SetFailureCallback(Keep);
    }
    ~FailureLog() { qm_SetFailureCallback(nullptr); }
    FailureLog(const FailureLog&) = delete;
    FailureLog& operator=(const FailureLog&) = delete;

    // "index kind url: reason" for each report, kind 0 where no record came with it.
    static const std::vector<std::string>& Lines() { return Told().lines; }
    // The reasons alone.
    static const std::vector<std::string>& Reasons() { return Told().reasons; }
    static void Clear() { Told() = {}; }

private:
    struct Reports {
        std::vector<std::string> lines, reasons;
    };
    static Reports& Told() {
        static Reports told;
        return told;
    }
    static void QM_CALLBACK Keep(int32_t index, const PageRecord* record, const char* url,
                                 const char* reason) {
        Told().lines.push_back(std::to_string(index) + " " +
                               std::to_string(record ? record->kind : 0) + " " + url + ": " +
                               reason);
        Told().reasons.push_back(reason);
    }
};

}  // namespace qmtest
