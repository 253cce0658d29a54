// Checks on texts for tests: whether a text holds a part, as an assertion whose failure
// shows the part and the whole text.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qmtest {

// For EXPECT_TRUE, and EXPECT_FALSE where the part must not be there.
inline testing::AssertionResult Holds(const std::string& text, const std::string& part) {
    return (text.find(part) != std::string::npos ? testing::AssertionSuccess()
                                                 : testing::AssertionFailure())
           << "\"" << part << "\" in:\n"
           << text;
}

}  // namespace qmtest
