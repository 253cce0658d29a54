// How every export begins: its stop reachable by qm_StopSave from the first moment, the
// failure callback of that moment, and then the call's context with the caller's cookie jar
// or one of the call's own.
#pragma once

#include <optional>

#include "cookie_jar.h"
#include "failure_report.h"
#include "save_context.h"
#include "stop.h"

namespace qm {

class ExportCall {
    CallStop stop_;  // first of all

public:
    ExportCall() = default;
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;

    // The call's context, once its arguments have been checked. Without a jar of the
    // caller's, what the sites set lives for this call alone.
    SaveContext& Begin(CookieJar* given) {
        context_.emplace(stop_.token(), failures, given != nullptr ? *given : own_);
        return *context_;
    }

    const FailureSink failures{CurrentFailureCallback()};

private:
    CookieJar own_;
    std::optional<SaveContext> context_;  // last: it refers to the members above
};

}  // namespace qm
