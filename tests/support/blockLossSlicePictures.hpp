// Extra pictures for the exactness tests of block loss and slice: runs of
// edge windows of every length around 12 on and off the block boundaries,
// across region borders and region rows, thresholds met exactly, sizes just
// around 256, 48 and 16, strips without matches and infinite ratios.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/exactness.hpp"

using namespace lumaqc;

namespace stress {

constexpr uint8_t kDark = 16;
constexpr uint8_t kBright = 200;

inline NamedPicture blank(const std::string& name, uint64_t w, uint64_t h, uint8_t value) {
    return namedPicture(name, w, h, [=](uint64_t, uint64_t) { return value; });
}

// Columns x0..x1, rows y0..y1 (inclusive, clipped to the picture) set to v.
inline void fillRect(NamedPicture& p, uint64_t x0, uint64_t x1, uint64_t y0, uint64_t y1, uint8_t v) {
    TestPicture& t = *p.picture;
    for (uint64_t y = y0; y <= y1 && y < t.img.h; ++y)
        for (uint64_t x = x0; x <= x1 && x < t.img.w; ++x) t.at(x, y) = v;
}

// Squared Roberts magnitudes of all windows, summed: what sets the block-loss
// threshold (six times this over w * h).
inline int64_t edgeEnergy(const TestPicture& t) {
    const uint64_t w = t.img.w, h = t.img.h;
    const uint8_t* d = t.img.data;
    int64_t s = 0;
    for (uint64_t y = 1; y < h; ++y)
        for (uint64_t x = 1; x < w; ++x) {
            const int64_t a = int64_t{d[(y - 1) * w + x - 1]} - d[y * w + x];
            const int64_t b = int64_t{d[(y - 1) * w + x]} - d[y * w + x - 1];
            s += a * a + b * b;
        }
    return s;
}

// A bar of `windows` edge windows along the horizontal boundary above row
// 16r, starting at the window whose right column is x: the bright pixels of
// row 16r from x to x + windows - 2 (a bar of n pixels gives n + 1 windows).
inline void barAlongRow(NamedPicture& p, uint64_t r, uint64_t x, uint64_t windows, uint8_t v = kBright) {
    fillRect(p, x, x + windows - 2, 16 * r, 16 * r, v);
}

// The same down the vertical boundary left of column 16c, first window at row y.
inline void barDownColumn(NamedPicture& p, uint64_t c, uint64_t y, uint64_t windows, uint8_t v = kBright) {
    fillRect(p, 16 * c, 16 * c, y, y + windows - 2, v);
}

inline std::vector<NamedPicture> blockLossPictures() {
    std::vector<NamedPicture> out;

    // Runs of 11, 12 and 13 windows along both kinds of boundary, at the start
    // and the end of a region, and split by region borders and region rows.
    for (uint64_t n : {11u, 12u, 13u}) {
        NamedPicture p = blank("runs of " + std::to_string(n), 520, 530, kDark);
        barAlongRow(p, 3, 40, n);                // inside region (0, 0)
        barAlongRow(p, 5, 256, n);               // from the first window of region (1, 0)
        barAlongRow(p, 7, 256 - n, n);           // up to the last window of region (0, 0)
        barAlongRow(p, 17, 300, n);              // region (1, 1)
        barDownColumn(p, 2, 30, n);              // inside region (0, 0)
        barDownColumn(p, 19, 256, n);            // from the first row of region (1, 1)
        barDownColumn(p, 4, 256 - n, n);         // down to the last row of region (0, 0)
        barDownColumn(p, 20, 100, n);            // region (1, 0)
        barDownColumn(p, 5, 300, n);             // region (0, 1)
        out.push_back(p);
    }
    {
        NamedPicture p = blank("runs split by region borders", 513, 513, kDark);
        barAlongRow(p, 2, 246, 20);   // 10 + 10
        barAlongRow(p, 4, 244, 24);   // 12 + 12
        barAlongRow(p, 6, 245, 24);   // 11 + 13
        barDownColumn(p, 3, 246, 20);
        barDownColumn(p, 5, 244, 24);
        barDownColumn(p, 7, 245, 24);
        barDownColumn(p, 20, 250, 21);  // rows 250 to 270: 6 + 15
        barDownColumn(p, 1, 0, 300);    // from the top edge down
        barAlongRow(p, 1, 0, 300);      // from the left edge along
        out.push_back(p);
    }
    {
        // Edges on the last boundary inside the grid and just outside it.
        NamedPicture p = blank("edges at the grid's end", 527, 529, kDark);
        barAlongRow(p, 31, 200, 40);
        barAlongRow(p, 32, 200, 40);    // row 512: outside the grid rows
        barDownColumn(p, 31, 200, 40);
        barDownColumn(p, 32, 200, 40);  // column 512: outside the grid columns
        fillRect(p, 496, 526, 496, 528, kBright);
        out.push_back(p);
    }

    // Edge windows of magnitude exactly 18 on the boundaries (a square, or a
    // line, of grey level 3 on black: 2 * 3^2), with isolated pixels away from
    // the grid bringing the magnitude sum to 18 * 65536 / 6 (threshold exactly
    // 18) or to 4 or 8 less (threshold just below 18). With the lines, a bar of
    // level 4 (windows of 2 * 4^2 = 32) on the other kind of boundary gives
    // its region one run of that kind in every case.
    for (int64_t below : {0, 4, 8}) {
        const std::string suffix = " - " + std::to_string(below);
        NamedPicture square = blank("square at the threshold" + suffix, 256, 256, 0);
        fillRect(square, 64, 127, 64, 127, 3);
        NamedPicture vertical = blank("vertical line at the threshold" + suffix, 256, 256, 0);
        fillRect(vertical, 40, 80, 64, 64, 4);
        fillRect(vertical, 128, 128, 100, 150, 3);
        NamedPicture horizontal = blank("horizontal line at the threshold" + suffix, 256, 256, 0);
        fillRect(horizontal, 64, 64, 40, 80, 4);
        fillRect(horizontal, 100, 150, 128, 128, 3);
        for (NamedPicture* p : {&square, &vertical, &horizontal}) {
            int64_t missing = 18 * 65536 / 6 - below - edgeEnergy(*p->picture);
            uint64_t spot = 0;
            for (int u = 255; u >= 1 && missing > 0; --u)
                while (4 * u * u <= missing) {
                    const uint64_t x = 8 + 16 * (spot % 14), y = 168 + 16 * (spot / 14 % 5);
                    fillRect(*p, x, x, y, y, static_cast<uint8_t>(u));
                    missing -= 4 * u * u;
                    ++spot;
                }
            out.push_back(*p);
        }
    }

    // Random bars on and off the boundaries, with lengths around 12, in
    // pictures of sizes around multiples of 256 and off the 16-grid.
    const std::pair<uint64_t, uint64_t> sizes[] = {{255, 600}, {600, 255}, {256, 256}, {257, 257}, {511, 513},
                                                   {512, 512}, {513, 511}, {300, 270}, {780, 530}, {1920, 1080}};
    uint32_t seed = 100;
    for (auto [w, h] : sizes) {
        for (int variant = 0; variant < 3; ++variant) {
            std::mt19937 gen(seed++);
            NamedPicture p = namedPicture("random bars " + std::to_string(variant), w, h, [&](uint64_t, uint64_t) {
                return static_cast<uint8_t>(variant == 2 ? 90 + gen() % 40 : kDark + gen() % 3);
            });
            const uint64_t lengths[] = {10, 11, 12, 13, 14, 23, 24, 25, 40};
            const int bars = static_cast<int>(w * h / 1500);
            for (int b = 0; b < bars; ++b) {
                const uint64_t n = lengths[gen() % 9];
                const uint8_t v = static_cast<uint8_t>(variant == 1 ? 40 + gen() % 216 : kBright);
                const bool onGrid = gen() % 4 != 0;
                if (gen() % 2) {
                    const uint64_t r = gen() % (h / 16 + 1), x = gen() % w;
                    const uint64_t off = 1 + gen() % 14;
                    if (onGrid) barAlongRow(p, r, x, n, v);
                    else fillRect(p, x, x + n - 2, 16 * r + off, 16 * r + off, v);
                } else {
                    const uint64_t c = gen() % (w / 16 + 1), y = gen() % h;
                    const uint64_t off = 1 + gen() % 14;
                    if (onGrid) barDownColumn(p, c, y, n, v);
                    else fillRect(p, 16 * c + off, 16 * c + off, y, y + n - 2, v);
                }
            }
            out.push_back(p);
        }
    }

    // Bright squares on the grid, some across region borders.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{1920, 1080}, {768, 512}}) {
        NamedPicture p = namedPicture("squares on the grid", w, h, [](uint64_t x, uint64_t y) {
            return static_cast<uint8_t>(40 + (x * 7 + y * 3) % 5);
        });
        for (uint64_t i = 0; i < 12; ++i) {
            const uint64_t x = (37 + i * 151) % (w - 80) / 16 * 16, y = (11 + i * 97) % (h - 80) / 16 * 16;
            fillRect(p, x, x + 16 * (1 + i % 4) - 1, y, y + 16 * (1 + i % 3) - 1, 230);
        }
        out.push_back(p);
    }
    return out;
}

inline std::vector<NamedPicture> slicePictures() {
    std::vector<NamedPicture> out;
    uint32_t seed = 500;
    // Narrow and low pictures, with few grey levels so that matches are common.
    for (uint64_t w : {0u, 1u, 2u, 15u, 16u, 17u, 18u, 31u, 32u, 33u, 63u, 64u, 65u, 100u, 1021u})
        for (uint64_t h : {47u, 48u, 49u, 50u, 63u, 64u, 65u, 300u})
            for (uint32_t levels : {2u, 256u}) {
                std::mt19937 gen(seed++);
                out.push_back(namedPicture("random of " + std::to_string(levels) + " levels", w, h,
                                           [&](uint64_t, uint64_t) { return static_cast<uint8_t>(gen() % levels); }));
            }
    // Strips of more than 255 x 64 pixels that match everywhere, or nearly.
    for (uint64_t w : {1100u, 2100u}) {
        out.push_back(blank("uniform", w, 80, 7));
        out.push_back(namedPicture("uniform but one pixel", w, 80, [=](uint64_t x, uint64_t y) {
            return static_cast<uint8_t>(x == w / 2 && y == 20 ? 8 : 7);
        }));
    }
    for (uint64_t w : {17u, 40u, 333u, 1920u})
        for (uint64_t h : {48u, 81u, 1080u}) {
            // No pixel equals its partner 16 rows or 16 columns away: every ratio is 0/0.
            out.push_back(namedPicture("no matches", w, h, [](uint64_t x, uint64_t y) {
                return static_cast<uint8_t>(x + 3 * y);
            }));
            // Rows repeat every 16 rows, columns never at 16: every ratio is infinite.
            out.push_back(namedPicture("rows repeat", w, h, [](uint64_t x, uint64_t y) {
                return static_cast<uint8_t>(x + 3 * (y % 16));
            }));
            // Columns repeat every 16 columns, rows never: every ratio is 0.
            out.push_back(namedPicture("columns repeat", w, h, [](uint64_t x, uint64_t y) {
                return static_cast<uint8_t>(x % 16 + 17 * y);
            }));
            // Strips of every kind in turn: no match (NaN), vertical only
            // (infinite), horizontal only (0) and both.
            out.push_back(namedPicture("mixed strips", w, h, [](uint64_t x, uint64_t y) {
                switch (y / 16 % 4) {
                    case 0: return static_cast<uint8_t>(x + 3 * y);
                    case 1: return static_cast<uint8_t>(x + 3 * (y % 16) + 100);
                    case 2: return static_cast<uint8_t>(x % 16 + 17 * y);
                    default: return static_cast<uint8_t>((x * x + y) % 3);
                }
            }));
            // NaN strips and finite ones only.
            out.push_back(namedPicture("matchless strips among others", w, h, [](uint64_t x, uint64_t y) {
                return static_cast<uint8_t>(y / 16 % 2 ? x + 3 * y : (x / 5 + y / 7) % 4);
            }));
        }
    return out;
}

}  // namespace stress
