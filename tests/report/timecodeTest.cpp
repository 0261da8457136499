// Timecodes against a clock that counts labels one by one, and durations
// against their rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "report/numbers.hpp"
#include "report/segments.hpp"
#include "report/timecode.hpp"
#include "support/labelClock.hpp"

using namespace lumaqc::report;


TEST(Timecode, LabelsCountedOneByOne) {
    const struct {
        double fps;
        int nominal, dropped;
        int64_t frames;  // labels walked
    } rates[] = {
        {25.0, 25, 0, 25 * 3700},       {24.0, 24, 0, 24 * 3700},   {30.0, 30, 0, 30 * 700},
        {30000.0 / 1001, 30, 2, 200000}, {29.97, 30, 2, 120000},     {60000.0 / 1001, 60, 4, 400000},
        {50.0, 50, 0, 50 * 700},         {23.976, 24, 0, 24 * 700},
    };
    for (const auto& r : rates) {
        SCOPED_TRACE(r.fps);
        const TimecodeRate rate = timecodeRate(r.fps);
        EXPECT_EQ(rate.nominal, r.nominal);
        EXPECT_EQ(rate.dropFrame, r.dropped > 0);
        LabelClock clock{0, 0, 0, 0, r.nominal, r.dropped};
        for (int64_t n = 0; n < r.frames; ++n, clock.next()) {
            const std::string label = clock.text();
            ASSERT_EQ(timecodeText(n, rate), label) << n;
            ASSERT_EQ(timecodeFrames(label, rate), n) << label;
        }
    }
    // A whole day wraps to midnight.
    const TimecodeRate df = timecodeRate(30000.0 / 1001);
    EXPECT_EQ(timecodeText(timecodeFrames("23:59:59;29", df) + 1, df), "00:00:00;00");
}

TEST(Timecode, LabelsThatAreNone) {
    const TimecodeRate df = timecodeRate(30000.0 / 1001), pal = timecodeRate(25);
    const struct {
        const char* text;
        TimecodeRate rate;
    } cases[] = {
        {"00:01:00;00", df}, {"00:01:00;01", df}, {"00:00:00:25", pal}, {"24:00:00:00", pal},
        {"00:60:00:00", pal}, {"00:00:00", pal},  {"00:00:00:00x", pal}, {"aa:00:00:00", pal},
        {"00:00:00/00", pal}, {"", pal},
    };
    for (const auto& c : cases) EXPECT_EQ(timecodeFrames(c.text, c.rate), -1) << c.text;
    // Minute ten keeps its first labels; a colon reads without dropping.
    EXPECT_EQ(timecodeFrames("00:10:00;00", df), 17982);
    EXPECT_EQ(timecodeFrames("00:10:00:00", df), 18000);
}

// A duration prints as the shortest text of its value rounded to a thousandth
// of a frame in decimals, which reads back within half that step.
TEST(Timecode, DurationsRoundedToTheFrameRate) {
    const struct {
        double fps;
        int decimals;
        bool exact;  // whether frames / fps has few enough decimals to print whole
    } rates[] = {{25, 5, true}, {30000.0 / 1001, 5, false}, {50, 5, true}, {8, 4, true}, {1000, 6, true}, {0.5, 3, true}};
    for (const auto& r : rates) {
        for (int frames = 0; frames < 400; ++frames) {
            // A difference of two presentation times carries the error of both.
            const double start = 1234.0 / r.fps + 0.37, end = start + frames / r.fps;
            const double duration = end - start;
            const std::string text = durationText(duration, r.fps);
            const double step = std::pow(10.0, -r.decimals);
            ASSERT_LE(std::fabs(std::strtod(text.c_str(), nullptr) - duration), step / 2 * (1 + 1e-9)) << text;
            const size_t point = text.find('.');
            ASSERT_TRUE(point == std::string::npos || text.size() - point - 1 <= static_cast<size_t>(r.decimals)) << text;
            // Where frames / fps has few decimals, it prints as that quotient does.
            if (r.exact) { EXPECT_EQ(text, shortest(frames / r.fps)) << frames; }
        }
    }
    EXPECT_EQ(durationText(0.1 + 0.2, 0), shortest(0.1 + 0.2));  // no rate: unrounded
}
