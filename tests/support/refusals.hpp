// Checks of an operator's refusal: a failed size check naming the operator and
// quoting the condition, with the destinations left as they were.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "tools/sizeChecks.hpp"

inline void expectRefused(lumaqc::SizeCheck got, const char* function, const char* condition) {
    EXPECT_FALSE(got.ok()) << function << ": " << condition;
    EXPECT_STREQ(got.function, function);
    EXPECT_STREQ(got.condition, condition);
}

// Every one of the picture's w * h values is still v.
template <typename Picture, typename Value>
bool holdsOnly(const Picture& p, Value v) {
    for (uint64_t i = 0; i < p.w * p.h; ++i)
        if (p.data[i] != v) return false;
    return true;
}
