// qmsave's save commands run in the test's own process, with what they said.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qm_url.h"
#include "qmsave_save.h"

struct QmsaveRun {
    int status;
    std::string said;  // standard error
};

inline QmsaveRun RunQmsave(const char* verb, std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    testing::internal::CaptureStderr();
    int status = qmsave::Save(verb, static_cast<int>(argv.size()), argv.data());
    QmsaveRun run{status, testing::internal::GetCapturedStderr()};
    qm_SetFailureCallback(nullptr);
    return run;
}
