// Extra pictures for the exactness tests of the single-picture indicators
// (spatial activity, exposure, blackout, interlace, contrast, blockiness):
// sizes around the block grids and around the spans the fast loops work in,
// and pictures held in buffers of exactly w x h bytes, so that the sanitizer
// build catches any read past the last pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/exactness.hpp"

using namespace lumaqc;

struct StressPicture {
    std::string name;
    std::shared_ptr<std::vector<uint8_t>> pixels;
    Image img;
    Image* get() { return &img; }
};

inline StressPicture stressPicture(std::string name, uint64_t w, uint64_t h,
                                   const std::function<uint8_t(uint64_t, uint64_t)>& f) {
    auto pixels = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(w * h));
    for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) (*pixels)[static_cast<size_t>(y * w + x)] = f(x, y);
    StressPicture p{std::move(name) + " " + std::to_string(w) + "x" + std::to_string(h), pixels, {w, h, nullptr}};
    p.img.data = pixels->data();
    return p;
}

inline StressPicture randomStressPicture(std::string name, uint64_t w, uint64_t h, uint32_t seed) {
    std::mt19937 gen(seed);
    return stressPicture(std::move(name), w, h, [&](uint64_t, uint64_t) { return uint8_t(gen() & 0xff); });
}

// Checks fast(p, state) == ref(p) for every picture and every variant.
template <typename Fast, typename Ref>
void expectSameOnStressPictures(std::vector<StressPicture>& pictures, Fast fast, Ref ref) {
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (StressPicture& p : pictures) {
            const double want = static_cast<double>(ref(p.get()));
            const double got = static_cast<double>(fast(p.get(), state));
            EXPECT_TRUE(sameResult(got, want))
                << p.name << " [" << isaName(isa) << "]: fast " << describe(got) << ", reference " << describe(want);
        }
    }
}

// Every width and height from 0 to 33, and a few around 48 and 64, with
// random, combed and checkered content.
inline std::vector<StressPicture> smallSizePictures() {
    std::vector<uint64_t> sides;
    for (uint64_t s = 0; s <= 33; ++s) sides.push_back(s);
    for (uint64_t s : {47u, 48u, 49u, 63u, 64u, 65u}) sides.push_back(s);
    std::vector<StressPicture> out;
    uint32_t seed = 100;
    for (uint64_t w : sides)
        for (uint64_t h : sides) {
            out.push_back(randomStressPicture("random", w, h, seed++));
            if ((w + h) % 3 == 0)
                out.push_back(stressPicture("combed", w, h, [](uint64_t x, uint64_t y) {
                    return uint8_t(y % 2 ? 20 + x % 3 : 240 - x % 5);
                }));
            if ((w + h) % 3 == 1)
                out.push_back(stressPicture("checkerboard", w, h,
                                            [](uint64_t x, uint64_t y) { return uint8_t((x + y) % 2 ? 255 : 0); }));
        }
    return out;
}

// Long rows and long columns: more than 65536 pixels across or down, and
// widths just around multiples of 1024 and 2048.
inline std::vector<StressPicture> longLinePictures() {
    std::vector<StressPicture> out;
    const std::pair<uint64_t, uint64_t> sizes[] = {{70001, 17}, {17, 70001},  {66000, 9},  {9, 66000},
                                                   {1023, 21},  {1024, 21},   {1025, 21},  {1026, 21},
                                                   {1027, 21},  {2047, 19},   {2048, 19},  {2049, 19},
                                                   {2050, 19},  {2056, 24},   {2063, 25},  {2064, 25},
                                                   {2065, 25},  {2072, 33},   {4104, 12},  {4113, 17}};
    uint32_t seed = 7000;
    for (auto [w, h] : sizes) {
        out.push_back(randomStressPicture("random", w, h, seed++));
        std::mt19937 gen(seed++);
        out.push_back(stressPicture("binary", w, h, [&](uint64_t, uint64_t) { return uint8_t(gen() & 1 ? 255 : 0); }));
        out.push_back(stressPicture("smooth", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t((x * 5 + y * 3) / 7 % 230 + 10);
        }));
    }
    return out;
}
