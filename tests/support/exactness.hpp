// Pictures and helpers for the exactness tests: every fast indicator, in
// every instruction-set variant this machine can run, must give the same
// bits as its reference composition.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "simd/isa.hpp"
#include "support/indicatorState.hpp"
#include "support/pictures.hpp"

using namespace lumaqc;

// Same bits, except that any NaN equals any NaN.
inline bool sameResult(double a, double b) {
    if (a != a && b != b) return true;
    return bitsOf(a) == bitsOf(b);
}

inline std::string describe(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (0x%016llx)", v, static_cast<unsigned long long>(bitsOf(v)));
    return text;
}

struct NamedPicture {
    std::string name;
    std::shared_ptr<TestPicture> picture;
    Image* get() const { return picture->get(); }
};

inline NamedPicture namedPicture(std::string name, uint64_t w, uint64_t h,
                                 const std::function<uint8_t(uint64_t, uint64_t)>& f) {
    auto p = std::make_shared<TestPicture>(w, h);
    p->fill(f);
    return {std::move(name) + " " + std::to_string(w) + "x" + std::to_string(h), p};
}

// Seeded random pictures of awkward sizes, from 1 x 1 to 1920 x 1080.
inline std::vector<NamedPicture> randomPictures() {
    static const std::pair<uint64_t, uint64_t> sizes[] = {{1, 1},     {7, 9},     {8, 8},     {16, 16},
                                                          {17, 49},   {255, 300}, {257, 256}, {721, 483},
                                                          {1920, 1080}};
    std::vector<NamedPicture> out;
    uint32_t seed = 1;
    for (auto [w, h] : sizes) {
        std::mt19937 gen(seed++);
        out.push_back(namedPicture("random", w, h, [&](uint64_t, uint64_t) { return uint8_t(gen() & 0xff); }));
        // Smooth content with little noise: the kind the indicators are made for.
        std::mt19937 gen2(seed++);
        out.push_back(namedPicture("smooth", w, h, [&](uint64_t x, uint64_t y) {
            const int v = static_cast<int>((x * 3 + y * 5) / 4 % 200) + 20 + static_cast<int>(gen2() % 5) - 2;
            return static_cast<uint8_t>(v);
        }));
    }
    return out;
}

// Pictures built to hit the special cases of the indicators.
inline std::vector<NamedPicture> structuredPictures() {
    std::vector<NamedPicture> out;
    const std::pair<uint64_t, uint64_t> sizes[] = {{352, 288}, {257, 271}, {64, 48}, {300, 17}};
    for (auto [w, h] : sizes) {
        for (int level : {0, 3, 255})
            out.push_back(namedPicture("uniform" + std::to_string(level), w, h,
                                       [=](uint64_t, uint64_t) { return uint8_t(level); }));
        for (uint64_t k : {8u, 16u, 13u, 100u})
            out.push_back(namedPicture("vertical step at " + std::to_string(k), w, h,
                                       [=](uint64_t x, uint64_t) { return uint8_t(x < k ? 20 : 230); }));
        for (uint64_t k : {16u, 32u, 9u})
            out.push_back(namedPicture("horizontal step at " + std::to_string(k), w, h,
                                       [=](uint64_t, uint64_t y) { return uint8_t(y < k ? 240 : 10); }));
        out.push_back(namedPicture("ramp edge", w, h, [](uint64_t x, uint64_t) {
            return uint8_t(x < 40 ? 0 : (x >= 45 ? 255 : (x - 39) * 51));
        }));
        out.push_back(namedPicture("flat 8x8 blocks", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x / 8) * 37 + (y / 8) * 91) % 256);
        }));
        out.push_back(namedPicture("flat 16x16 blocks", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x / 16) * 53 + (y / 16) * 29) % 256);
        }));
        out.push_back(namedPicture("half-black half-white 8x8 blocks", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x % 8) < 4) == ((y / 8) % 2 == 0) ? 0 : 255);
        }));
        out.push_back(namedPicture("vertical stripes", w, h, [](uint64_t x, uint64_t) { return uint8_t(x % 2 ? 200 : 50); }));
        out.push_back(namedPicture("horizontal stripes", w, h, [](uint64_t, uint64_t y) { return uint8_t(y % 2 ? 0 : 255); }));
        out.push_back(namedPicture("checkerboard", w, h, [](uint64_t x, uint64_t y) { return uint8_t((x + y) % 2 ? 255 : 0); }));
        out.push_back(namedPicture("checkerboard 16", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(((x / 16) + (y / 16)) % 2 ? 180 : 60);
        }));
        out.push_back(namedPicture("letterbox bars", w, h, [=](uint64_t x, uint64_t y) {
            return uint8_t(y < h / 8 || y >= h - h / 8 ? 16 : (x * 7 + y * 3) % 220);
        }));
        out.push_back(namedPicture("pillarbox bars", w, h, [=](uint64_t x, uint64_t y) {
            return uint8_t(x < w / 8 || x >= w - w / 8 ? 16 : (x * 5 + y * 11) % 230);
        }));
        out.push_back(namedPicture("bright square on the 16 grid", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(x >= 32 && x < 96 && y >= 16 && y < 80 ? 250 : 12);
        }));
        out.push_back(namedPicture("bright square off the grid", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(x >= 33 && x < 97 && y >= 17 && y < 81 ? 250 : 12);
        }));
        out.push_back(namedPicture("combed rows", w, h, [](uint64_t x, uint64_t y) {
            return uint8_t(y % 2 ? 30 + x % 7 : 200 - x % 5);
        }));
    }
    return out;
}

inline std::vector<NamedPicture> allPictures() {
    std::vector<NamedPicture> all = randomPictures();
    std::vector<NamedPicture> more = structuredPictures();
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// The picture of the given name in a list (a test failure when it is missing).
inline NamedPicture findPicture(const std::vector<NamedPicture>& pictures, const std::string& name) {
    for (const NamedPicture& p : pictures)
        if (p.name == name) return p;
    ADD_FAILURE() << "no picture " << name;
    return pictures.front();
}

// Every variant this machine can run.
inline std::vector<Isa> runnableIsas() {
    std::vector<Isa> out;
    for (Isa isa : {Isa::Generic, Isa::Avx2, Isa::Avx512})
        if (isaSupported(isa)) out.push_back(isa);
    return out;
}


// Checks fast(p, state) == reference(p) for every picture and every variant,
// each variant on a state of its own.
template <typename Fast, typename Ref>
void expectSameOnAllPictures(Fast fast, Ref ref) {
    const std::vector<NamedPicture> pictures = allPictures();
    for (Isa isa : runnableIsas()) {
        IndicatorState state = stateFor(isa);
        for (const NamedPicture& p : pictures) {
            const double want = static_cast<double>(ref(p.get()));
            const double got = static_cast<double>(fast(p.get(), state));
            EXPECT_TRUE(sameResult(got, want))
                << p.name << " [" << isaName(isa) << "]: fast " << describe(got) << ", reference " << describe(want);
        }
    }
}
