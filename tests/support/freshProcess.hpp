// Runs a sequence of calls to a stateful indicator in a forked child, where
// its process-wide counter starts from zero as at the start of a run.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/pictures.hpp"

using namespace lumaqc;

// `calls` returns "" when every value was as expected, otherwise what went
// wrong; the child's exit status carries the verdict, its error stream the text.
template <typename Calls>
void expectInFreshProcess(Calls calls) {
    EXPECT_EXIT(
        {
            const std::string failure = calls();
            std::fputs(failure.c_str(), stderr);
            std::fflush(stderr);
            std::exit(failure.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
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
