// Checks sequences of calls to a stateful indicator, each run on a state of
// its own that starts from zero as at the start of a stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/pictures.hpp"

using namespace lumaqc;

// `calls` returns "" when every value was as expected, otherwise what went wrong.
template <typename Calls>
void expectCallsPass(Calls calls) {
    EXPECT_EQ(calls(), "");
}

// Bit-exact comparison of two value sequences (not-a-number signs included).
inline std::string mismatches(const std::vector<double>& got, const std::vector<double>& want) {
    std::string text;
    if (got.size() != want.size()) return "sequence lengths differ\n";
    for (size_t i = 0; i < got.size(); ++i) {
        if (bitsOf(got[i]) == bitsOf(want[i])) continue;
        char line[128];
        std::snprintf(line, sizeof line, "call %zu: got %.17g, want %.17g\n", i + 1, got[i], want[i]);
        text += line;
    }
    return text;
}
