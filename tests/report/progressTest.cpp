// The progress line with a fake clock: redrawn at most every quarter second,
// drawn again after being erased for other text, erased at the end.
#include <gtest/gtest.h>

#include "report/progress.hpp"

using namespace lumaqc::report;

TEST(Progress, RedrawsAtMostFourTimesASecondAndErasesAtTheEnd) {
    struct Case {
        int64_t total;
        int64_t frames;
        double secondsPerFrame;
    };
    for (const Case& k : {Case{1000, 1000, 0.004}, Case{0, 300, 0.01}, Case{50, 50, 1.0}}) {
        double now = 100.0;
        std::vector<std::string> writes;
        ProgressMeter meter([&] { return now; }, [&](std::string_view t) { writes.emplace_back(t); }, k.total);
        for (int64_t done = 1; done <= k.frames; ++done) {
            now += k.secondsPerFrame;
            meter.update(done);
        }
        meter.finish();
        meter.update(k.frames);  // nothing after the end
        const double seconds = k.frames * k.secondsPerFrame;
        ASSERT_GE(writes.size(), 2u);
        EXPECT_LE(writes.size(), static_cast<size_t>(seconds * 4.0) + 3);
        EXPECT_EQ(writes.back(), "\r\033[K");
        for (size_t i = 0; i + 1 < writes.size(); ++i) EXPECT_EQ(writes[i].rfind("\r\033[Kframe ", 0), 0u);
        const std::string last = writes[writes.size() - 2];
        if (k.total > 0) EXPECT_NE(last.find(" of " + std::to_string(k.total)), std::string::npos) << last;
        else EXPECT_EQ(last.find(" of "), std::string::npos) << last;
    }
}

TEST(Progress, SuspendErasesAndTheNextUpdateRedraws) {
    double now = 0.0;
    std::vector<std::string> writes;
    ProgressMeter meter([&] { return now; }, [&](std::string_view t) { writes.emplace_back(t); }, 10);
    meter.update(1);
    meter.suspend();
    meter.suspend();  // nothing shown: nothing to erase
    meter.update(2);  // same quarter second: the old text again
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1], "\r\033[K");
    EXPECT_EQ(writes[2], writes[0]);
    EXPECT_EQ(ProgressMeter::lineText(5, 10, 2.0), "frame 5 of 10 (50.0%), 2.5 fps, 0:00:02 left");
}
