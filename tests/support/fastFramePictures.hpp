// Picture pairs and frame sequences for the frame-to-frame indicators: the
// fast versions must match their reference compositions on pairs that differ
// a little, a lot or not at all, and, for flickering, over whole sequences of
// calls whose blocks switch between still and changing.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/exactness.hpp"

using namespace lumaqc;

// Second pictures to compare a picture with: itself, its negative, itself
// moved by one pixel, and itself with a few scattered changes of every size.
inline std::vector<NamedPicture> comparedWith(const NamedPicture& p, uint32_t seed) {
    const Image* img = p.get();
    const uint64_t w = img->w, h = img->h;
    const uint8_t* px = img->data;
    std::vector<NamedPicture> out;
    out.push_back(namedPicture("copy", w, h, [&](uint64_t x, uint64_t y) { return px[y * w + x]; }));
    out.push_back(namedPicture("negative", w, h, [&](uint64_t x, uint64_t y) { return uint8_t(255 - px[y * w + x]); }));
    out.push_back(namedPicture("moved by one", w, h, [&](uint64_t x, uint64_t y) { return px[y * w + (x + 1) % w]; }));
    std::mt19937 gen(seed);
    out.push_back(namedPicture("scattered changes", w, h, [&](uint64_t x, uint64_t y) {
        const uint32_t r = gen();
        if (r % 7 != 0) return px[y * w + x];
        return uint8_t(px[y * w + x] + (r >> 8) % 256);
    }));
    return out;
}

// Frame sequences for flickering. nextFrame turns frame `call` into frame
// `call` + 1 (flickering then compares the two). The calls come in periods of
// eight with different kinds of change:
//   0: nothing changes;
//   1: two pictures alternate, every block differs on every call;
//   2: identical on even calls, one pixel per block off by one on odd calls;
//   3: each block at random: identical, one pixel off by one, or new content,
//      with changes in the columns and rows beyond the last whole block too;
//   4: single pixels at the corners of the block grid and just beyond it.
// Later calls repeat the pattern.
struct FrameSequence {
    uint64_t w, h;
    std::mt19937 gen;
    std::vector<uint8_t> alternate;  // the second picture of kind 1

    FrameSequence(uint64_t width, uint64_t height, uint32_t seed) : w(width), h(height), gen(seed) {
        alternate.resize(w * h);
        for (uint8_t& v : alternate) v = static_cast<uint8_t>(gen() & 0xff);
    }

    void first(TestPicture& frame) {
        for (uint64_t i = 0; i < w * h; ++i) frame.pixels[i] = static_cast<uint8_t>(gen() & 0xff);
    }

    void nextFrame(TestPicture& frame, int call) {
        const uint64_t gw = w / 8, gh = h / 8;
        auto bump = [&](uint64_t x, uint64_t y) {
            if (x < w && y < h) frame.at(x, y) = static_cast<uint8_t>(frame.at(x, y) + 1);
        };
        switch (call / 8 % 5) {
            case 0: break;
            case 1:
                for (uint64_t i = 0; i < w * h; ++i) std::swap(frame.pixels[i], alternate[i]);
                break;
            case 2:
                if (call % 2 == 0) break;
                for (uint64_t by = 0; by < gh; ++by)
                    for (uint64_t bx = 0; bx < gw; ++bx) bump(bx * 8 + gen() % 8, by * 8 + gen() % 8);
                break;
            case 3:
                for (uint64_t by = 0; by < gh; ++by)
                    for (uint64_t bx = 0; bx < gw; ++bx) {
                        const uint32_t kind = gen() % 4;
                        if (kind == 1) bump(bx * 8 + gen() % 8, by * 8 + gen() % 8);
                        if (kind == 2)
                            for (uint64_t y = 0; y < 8; ++y)
                                for (uint64_t x = 0; x < 8; ++x)
                                    frame.at(bx * 8 + x, by * 8 + y) = static_cast<uint8_t>(gen() & 0xff);
                    }
                for (uint64_t y = 0; y < h; ++y)
                    for (uint64_t x = gw * 8; x < w; ++x) frame.at(x, y) = static_cast<uint8_t>(gen() & 0xff);
                for (uint64_t y = gh * 8; y < h; ++y)
                    for (uint64_t x = 0; x < w; ++x) frame.at(x, y) = static_cast<uint8_t>(gen() & 0xff);
                break;
            default: {
                const uint64_t right = gw * 8, bottom = gh * 8;
                switch (call % 8) {
                    case 0: bump(right - 1, bottom - 1); break;
                    case 1: break;
                    case 2: bump(0, 0); bump(right - 1, bottom - 1); break;
                    case 3: bump(right - 1, 0); break;
                    case 4: bump(0, bottom - 1); break;
                    case 5: bump(right, 0); bump(0, bottom); break;  // beyond the grid: no block sees them
                    case 6: bump(right - 1, bottom - 1); break;
                    default: bump(right, bottom); break;
                }
            }
        }
    }
};
