// Small helpers for building test pictures.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "support/toolkit.hpp"
#include "tools/pictures.hpp"

using namespace lumaqc;

// An owning 8-bit picture for tests; released when it goes out of scope.
struct TestPicture {
    std::vector<uint8_t> pixels;
    Image img;

    TestPicture(uint64_t w, uint64_t h, uint8_t value = 0)
        : pixels(static_cast<size_t>(w * h) + 1, value), img{w, h, pixels.data()} {}
    uint8_t& at(uint64_t x, uint64_t y) { return pixels[static_cast<size_t>(y * img.w + x)]; }
    Image* get() { return &img; }
    void fill(const std::function<uint8_t(uint64_t, uint64_t)>& f) {
        for (uint64_t y = 0; y < img.h; ++y)
            for (uint64_t x = 0; x < img.w; ++x) at(x, y) = f(x, y);
    }
    void randomise(uint32_t seed) {
        std::mt19937 gen(seed);
        for (uint64_t i = 0; i < img.w * img.h; ++i) pixels[i] = static_cast<uint8_t>(gen() & 0xff);
    }
};

// The bit pattern of a double: exact comparison that also tells NaN signs apart.
inline uint64_t bitsOf(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}
