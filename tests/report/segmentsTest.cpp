// Segments of seeded row sequences against a brute-force search for runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
    bool black = false, still = false, letter = false, pillar = false, combed = false;
    for (size_t i = 0; i < count; ++i) {
        if (rng() % 4 == 0) black = !black;
        if (rng() % 4 == 0) still = !still;
        if (rng() % 5 == 0) letter = !letter;
        if (rng() % 5 == 0) pillar = !pillar;
        if (rng() % 3 == 0) combed = !combed;
        if (i + 6 >= count) combed = true;  // one segment still open at the end
        FrameRow& r = rows[i];
        r.frame = 100 + static_cast<int64_t>(i);
        if (withPts) r.ptsTime = 0.5 + 0.033 * static_cast<double>(i * i % 7 + i * 3);
        r.values.has_previous = i > 0;
        r.values.blackout = black;
        r.values.temporal_activity = still ? 0.0 : 1.5;
        r.values.letterbox = letter ? 0.25 : 0.0;
        r.values.pillarbox = pillar ? 0.125 : 0.0;
        r.values.interlace = combed ? 0.6 : (rng() % 2 ? 0.1 : 0.01);
    }
    return rows;
}

using Key = std::tuple<int, int64_t, int64_t, double, double>;  // kind, first, last, start, end

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
    for (int kind = 0; kind < 5; ++kind) {
        const auto in = [&](size_t i) {
            const auto& v = rows[i].values;
            switch (kind) {
                case 0: return v.blackout == 1;
                case 1: return i > 0 && v.temporal_activity == 0.0 && !v.blackout;
                case 2: return v.letterbox > 0 && !v.blackout;
                case 3: return v.pillarbox > 0 && !v.blackout;
                default: return v.interlace > o.interlaceThreshold;
            }
        };
        for (size_t i = 0; i < rows.size(); ++i) {
            if (!in(i) || (i > 0 && in(i - 1))) continue;
            size_t last = i;
            while (last + 1 < rows.size() && in(last + 1)) ++last;
            const double counted = static_cast<double>(last - i + 1);  // repeats only, for a freeze
            const size_t first = kind == 1 ? i - 1 : i;
            const double minimum = o.minimumSeconds[static_cast<size_t>(kind)];
            if (minimum > 0 && !(counted >= fps * minimum)) continue;
            keys.emplace_back(kind, rows[first].frame, rows[last].frame, time(first), endAfter(last));
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
        std::array<double, 5> minimum;
    };
    const Case cases[] = {
        {1, 200, false, 25.0, {0.0, 0.1, 0.0, 0.0, 0.0}}, {2, 300, true, 30.0, {0.1, 0.2, 0.15, 0.0, 0.05}},
        {3, 1, false, 25.0, {0.0, 0.0, 0.0, 0.0, 0.0}},   {4, 2, false, 25.0, {0.0, 0.0, 0.0, 0.0, 0.0}},
        {5, 500, false, 59.94, {0.0, 0.1, 0.0, 0.0, 0.0}}, {6, 97, true, 8.0, {0.4, 0.5, 0.5, 0.5, 0.5}}};
    for (const Case& k : cases) {
        SegmentOptions o;
        o.minimumSeconds = k.minimum;
        const auto rows = runRows(k.seed, k.rows, k.withPts);
        SegmentDetector detector(o, k.fps);
        std::vector<Segment> found;
        for (const auto& r : rows) detector.add(r, found);
        detector.finish(found);
        std::vector<Key> keys;
        for (const Segment& s : found) {
            keys.emplace_back(static_cast<int>(s.kind), s.firstFrame, s.lastFrame, s.start, s.end);
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
