#include <gtest/gtest.h>

#include "e2e/runner.hpp"

// The analyser and the reference executable (the literal indicator
// compositions in the same driver) must write byte-identical logs.
namespace {
void expectSameLog(const std::string& clipArgs, int w, int h, int frames, const std::string& runArgs) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "' " + clipArgs), 0);
    const std::string args = "clip.yuv " + std::to_string(w) + " " + std::to_string(h) + " " + runArgs;
    RunResult fast = runIn(dir, args);
    ASSERT_EQ(fast.status, 0) << fast.err;
    const std::string fastLog = fast.log;
    RunResult ref = runIn(dir, args, LUMAQC_REFERENCE_BINARY);
    ASSERT_EQ(ref.status, 0) << ref.err;
    EXPECT_EQ(linesOf(fastLog).size(), static_cast<size_t>(frames) + 1);
    EXPECT_EQ(fastLog, ref.log) << "sizes " << w << "x" << h;
}
}  // namespace

TEST(ReferenceExecutable, SameLogOnTheSampleClip) { expectSameLog("", 352, 288, 60, ""); }

TEST(ReferenceExecutable, SameLogOnOddSizes) {
    expectSameLog("257 271 12", 257, 271, 12, "");
    expectSameLog("33 50 10", 33, 50, 10, "10");
    expectSameLog("300 17 9", 300, 17, 9, "");
    expectSameLog("519 263 17", 519, 263, 10, "50 10 7");
}

TEST(ReferenceExecutable, SameLogAt1920x1080) { expectSameLog("1920 1080 3", 1920, 1080, 3, ""); }
