// Segments of seeded row sequences against a brute-force search for runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "report/segments.hpp"
#include "rows.hpp"

using lumaqc::FrameRow;
using namespace lumaqc::report;

namespace {

// Rows that change state in runs, so segments of every length appear.
std::vector<FrameRow> runRows(uint64_t seed, size_t count, bool withPts) {
    std::mt19937_64 rng(seed);
    std::vector<FrameRow> rows(count);
    bool dark = false, flat = false, still = false, letter = false, pillar = false, combed = false;
    // Bar sizes that jitter by a pixel or two, jump now and then and sit on
    // either side of the thinnest bar; field orders of either sign.
    double top = 36, bottom = 36, left = 0, right = 120;
    double order = 0.1;
    for (size_t i = 0; i < count; ++i) {
        if (rng() % 4 == 0) dark = !dark;
        if (rng() % 5 == 0) flat = !flat;
        if (rng() % 4 == 0) still = !still;
        if (rng() % 5 == 0) letter = !letter;
        if (rng() % 5 == 0) pillar = !pillar;
        if (rng() % 3 == 0) combed = !combed;
        if (i + 6 >= count) combed = true;  // one segment still open at the end
        FrameRow& r = rows[i];
        r.frame = 100 + static_cast<int64_t>(i);
        if (withPts) r.ptsTime = 0.5 + 0.033 * static_cast<double>(i * i % 7 + i * 3);
        r.values.has_previous = i > 0;
        // Levels and differences on both sides of the defaults, now and then
        // without a whole block (-1) or skipped (NaN).
        const uint64_t pick = rng() % 16;
        r.values.blackout = flat;
        r.values.brightest_block = pick == 0 ? -1.0 : pick == 1 ? NAN : dark ? static_cast<double>(rng() % 33) : 32.015625;
        r.values.temporal_activity = still ? 0.0 : 1.5;
        r.values.block_difference = pick == 0   ? -1.0
                                    : pick == 2 ? NAN
                                    : still     ? static_cast<double>(rng() % 9) * 0.25
                                                : 2.015625 + static_cast<double>(rng() % 3);
        r.values.letterbox = letter ? 0.25 : 0.0;
        r.values.pillarbox = pillar ? 0.125 : 0.0;
        r.values.interlace = combed ? 0.6 : (rng() % 2 ? 0.1 : 0.01);
        if (rng() % 7 == 0) top = static_cast<double>(rng() % 60);
        if (rng() % 9 == 0) right = static_cast<double>(rng() % 12);
        const auto jitter = [&](double v) { return v + static_cast<double>(rng() % 3); };
        r.values.bar_top = letter ? jitter(top) : 0.0;
        r.values.bar_bottom = letter && rng() % 4 != 0 ? jitter(bottom) : 0.0;
        r.values.bar_left = pillar ? left : 0.0;
        r.values.bar_right = pillar ? jitter(right) : 0.0;
        r.values.combing = combed ? 0.02 : (rng() % 2 ? 0.002 : 0.0001);
        if (rng() % 11 == 0) order = -order;
        r.values.field_order = order * static_cast<double>(rng() % 3) + (rng() % 5 == 0 ? __builtin_nan("") : 0.0);
        // Fractions outside the range on both sides of the default 1 % area.
        r.values.below_range = 0.001 * static_cast<double>(rng() % 12);
        r.values.above_range = rng() % 3 == 0 ? 0.001 * static_cast<double>(rng() % 6) : 0.0;
    }
    return rows;
}

// kind, first, last, start, end, bars and crop (bar segments), field order (interlaced)
using Key = std::tuple<int, int64_t, int64_t, double, double, std::string>;

std::string barsText(const std::array<double, 4>& b, int64_t w, int64_t h) {
    char text[128];
    std::snprintf(text, sizeof text, "%g %g %g %g %lld:%lld:%g:%g", b[0], b[1], b[2], b[3],
                  static_cast<long long>(w - static_cast<int64_t>(b[2] + b[3])),
                  static_cast<long long>(h - static_cast<int64_t>(b[0] + b[1])), b[2], b[0]);
    return text;
}

constexpr int64_t kWidth = 720, kHeight = 576;

// Maximal runs of frames in each state, searched afresh for every kind.
std::vector<Key> bruteForce(const std::vector<FrameRow>& rows, const SegmentOptions& o, double fps) {
    const auto time = [&](size_t i) {
        return std::isfinite(rows[i].ptsTime) ? rows[i].ptsTime : static_cast<double>(rows[i].frame) / fps;
    };
    const auto endAfter = [&](size_t last) {
        if (last + 1 < rows.size()) return time(last + 1);
        return std::isfinite(rows[last].ptsTime) ? rows[last].ptsTime + 1.0 / fps
                                                 : static_cast<double>(rows[last].frame + 1) / fps;
    };
    std::vector<Key> keys;
    const auto sides = [](const FrameRow& r) {
        return std::array<double, 4>{r.values.bar_top, r.values.bar_bottom, r.values.bar_left, r.values.bar_right};
    };
    for (int kind = 0; kind < 7; ++kind) {
        const auto in = [&](size_t i) {
            const auto& v = rows[i].values;
            // Dark at or below the black level; flat at any other level.
            const bool black = !std::isnan(v.brightest_block) && v.brightest_block != -1.0 &&
                               v.brightest_block <= o.blackLevel;
            // A block difference within the noise; identical where there is none (-1) or it was skipped.
            const bool repeats = v.block_difference == -1.0 || std::isnan(v.block_difference)
                                     ? v.temporal_activity == 0.0
                                     : v.block_difference <= o.freezeNoise;
            switch (kind) {
                case 0: return black;
                case 1: return i > 0 && repeats && !black && !v.blackout;
                case 2: return v.bar_top >= o.minimumBar || v.bar_bottom >= o.minimumBar;
                case 3: return v.bar_left >= o.minimumBar || v.bar_right >= o.minimumBar;
                case 4: return v.combing > o.interlaceThreshold;
                case 5: return v.below_range + v.above_range > o.rangeArea;
                default: return v.blackout == 1 && !black;
            }
        };
        // Maximal runs of frames in the state, cut before every frame whose
        // bars moved away from those of its piece's first frame.
        const auto moved = [&](size_t first, size_t next) {
            if (kind != 2 && kind != 3) return false;
            const size_t a = kind == 2 ? 0 : 2;
            for (size_t side = a; side < a + 2; ++side)
                if (std::fabs(sides(rows[next])[side] - sides(rows[first])[side]) > o.barChange) return true;
            return false;
        };
        std::vector<std::pair<size_t, size_t>> pieces;
        for (size_t r = 0; r < rows.size(); ++r) {
            if (!in(r) || (r > 0 && in(r - 1))) continue;
            size_t end = r;
            while (end + 1 < rows.size() && in(end + 1)) ++end;
            size_t first = r;
            for (size_t j = r + 1; j <= end; ++j)
                if (moved(first, j)) {
                    pieces.emplace_back(first, j - 1);
                    first = j;
                }
            pieces.emplace_back(first, end);
        }
        for (auto [i, last] : pieces) {
            const double counted = static_cast<double>(last - i + 1);  // repeats only, for a freeze
            const size_t first = kind == 1 ? i - 1 : i;
            const double minimum = o.minimumSeconds[static_cast<size_t>(kind)];
            if (minimum > 0 && !(counted >= fps * minimum)) continue;
            std::string extra;
            if (kind == 2 || kind == 3) {
                std::array<double, 4> least = sides(rows[i]);
                for (size_t j = i; j <= last; ++j)
                    for (size_t side = 0; side < 4; ++side) least[side] = std::min(least[side], sides(rows[j])[side]);
                for (double& side : least) side = side >= o.minimumBar ? side : 0.0;
                extra = barsText(least, kWidth, kHeight);
            }
            if (kind == 4) {
                double sum = 0.0;
                int count = 0;
                for (size_t j = i; j <= last; ++j)
                    if (rows[j].values.has_previous && std::isfinite(rows[j].values.field_order)) {
                        sum += rows[j].values.field_order;
                        ++count;
                    }
                const double mean = count > 0 ? sum / count : 0.0;
                extra = count == 0 || std::fabs(mean) <= o.fieldOrderThreshold ? "unknown" : (mean > 0 ? "tff" : "bff");
            }
            keys.emplace_back(kind, rows[first].frame, rows[last].frame, time(first), endAfter(last), extra);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace

TEST(Segments, MatchBruteForceRunsIncludingOnesOpenAtTheEnd) {
    struct Case {
        uint64_t seed;
        size_t rows;
        bool withPts;
        double fps;
        std::array<double, kSegmentKindCount> minimum;
        double minimumBar = 4.0;
        double barChange = 8.0;
        double rangeArea = 0.01;
        double blackLevel = 32.0;
        double freezeNoise = 3.5;
    };
    const Case cases[] = {
        {1, 200, false, 25.0, {0.0, 0.1, 0.0, 0.0, 0.0, 0.0, 0.0}},
        {2, 300, true, 30.0, {0.1, 0.2, 0.15, 0.0, 0.05, 0.0, 0.1}, 10.0, 1.0, 0.01, 16.0, 0.5},
        {3, 1, false, 25.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
        {4, 2, false, 25.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}, 4.0, 8.0, 0.01, 32.0, 2.0},
        {5, 500, false, 59.94, {0.0, 0.1, 0.0, 0.0, 0.0, 0.0, 0.0}, 0.0, 0.0, 0.01, 0.0, 0.0},
        {6, 97, true, 8.0, {0.4, 0.5, 0.5, 0.5, 0.5, 0.5, 0.25}, 1.0, 100.0, 0.01, 40.0, 4.0}};
    for (const Case& k : cases) {
        SegmentOptions o;
        o.minimumSeconds = k.minimum;
        o.rangeArea = k.rangeArea;
        o.blackLevel = k.blackLevel;
        o.freezeNoise = k.freezeNoise;
        const auto rows = runRows(k.seed, k.rows, k.withPts);
        o.minimumBar = k.minimumBar;
        o.barChange = k.barChange;
        SegmentDetector detector(o, k.fps, kWidth, kHeight);
        std::vector<Segment> found;
        for (const auto& r : rows) detector.add(r, found);
        detector.finish(found);
        std::vector<Key> keys;
        for (const Segment& s : found) {
            const bool bars = s.kind == SegmentKind::Letterbox || s.kind == SegmentKind::Pillarbox;
            std::string extra = bars ? barsText(s.bars, kWidth, kHeight)
                                     : s.kind == SegmentKind::Interlaced ? fieldOrderName(s.fieldOrder) : "";
            if (bars) {
                EXPECT_EQ(extra.substr(extra.rfind(' ') + 1), cropText(s));
            }
            keys.emplace_back(static_cast<int>(s.kind), s.firstFrame, s.lastFrame, s.start, s.end, extra);
            if (s.kind == SegmentKind::OutOfRange) {
                // The worst frame: the first with the largest fraction outside, searched afresh.
                auto outside = [&](int64_t f) {
                    const auto& v = rows[static_cast<size_t>(f - rows.front().frame)].values;
                    return v.below_range + v.above_range;
                };
                int64_t worst = s.firstFrame;
                for (int64_t f = s.firstFrame; f <= s.lastFrame; ++f) worst = outside(f) > outside(worst) ? f : worst;
                const auto& v = rows[static_cast<size_t>(worst - rows.front().frame)].values;
                EXPECT_EQ(std::make_tuple(s.worstFrame, s.worstBelow, s.worstAbove),
                          std::make_tuple(worst, v.below_range, v.above_range));
            }
            EXPECT_EQ(s.duration, k.withPts ? s.end - s.start
                                            : static_cast<double>(s.lastFrame + 1 - s.firstFrame) / k.fps);
        }
        std::sort(keys.begin(), keys.end());
        const auto expected = bruteForce(rows, o, k.fps);
        EXPECT_EQ(keys, expected) << "seed " << k.seed;
        // The sequences are long enough that segments are there to compare, one of them open at the end.
        if (k.rows > 2) {
            EXPECT_FALSE(expected.empty());
            EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                                    [&](const Segment& s) { return s.lastFrame == rows.back().frame; }));
        }
    }
}

TEST(Segments, SummaryAddsUpTheSegments) {
    const auto rows = runRows(9, 400, false);
    SegmentDetector detector(SegmentOptions{}, 25.0);
    std::vector<Segment> found;
    for (const auto& r : rows) detector.add(r, found);
    detector.finish(found);
    const auto summary = summarise(found);
    for (size_t kind = 0; kind < kSegmentKindCount; ++kind) {
        int64_t count = 0, frames = 0;
        double longest = 0.0;
        for (const Segment& s : found) {
            if (static_cast<size_t>(s.kind) != kind) continue;
            ++count;
            frames += s.lastFrame - s.firstFrame + 1;
            longest = std::max(longest, s.duration);
        }
        EXPECT_EQ(summary[kind].count, count);
        EXPECT_EQ(summary[kind].frames, frames);
        EXPECT_EQ(summary[kind].longest, longest);
    }
}

// The crop of bars that did not come from a picture (a merged report can hold
// anything): each side held to 0..its dimension, a picture inside overlapping
// bars 0 wide or high. Every case is checked against the bars as whole pixels.
TEST(Segments, CropOfAnyBarsStaysInsideThePicture) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        std::array<double, 4> bars;  // top, bottom, left, right
        int64_t width, height;
        std::array<int64_t, 4> whole;  // the same sides as the crop must read them
    };
    const std::vector<Case> cases = {
        {{10, 12, 4, 6}, 720, 576, {10, 12, 4, 6}},
        {{10.9, 0, 3.5, 0}, 720, 576, {10, 0, 3, 0}},
        {{nan, -5, -inf, nan}, 720, 576, {0, 0, 0, 0}},
        {{inf, 1e300, 9e18, inf}, 720, 576, {576, 576, 720, 720}},
        {{300, 300, 400, 400}, 720, 576, {300, 300, 400, 400}},
        {{5, 5, 5, 5}, 0, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Segment s;
        s.kind = SegmentKind::Letterbox;
        s.bars = c.bars;
        s.width = c.width;
        s.height = c.height;
        const int64_t w = std::max<int64_t>(0, c.width - c.whole[2] - c.whole[3]);
        const int64_t h = std::max<int64_t>(0, c.height - c.whole[0] - c.whole[1]);
        EXPECT_EQ(cropText(s), std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(c.whole[2]) + ":" +
                                   std::to_string(c.whole[0]));
    }
}
