// The frame-to-frame indicators over clips with frozen, alternating and
// changing stretches: lumaqc and the reference executable must print the same
// rows and write the same log, byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "e2e/runner.hpp"

namespace {
// Frames 0-5 repeat one picture; 6-13 alternate between two; 14-21 change a
// few blocks by one grey level, among them the last whole block of the grid,
// on every other frame; 22-29 are new pictures; 30-34 repeat frame 29; 35-39
// are black and still; later frames cycle through the same stretches.
std::vector<uint8_t> stretchLuma(int w, int h, int t) {
    const size_t n = static_cast<size_t>(w) * h;
    auto picture = [&](uint32_t seed) {
        std::mt19937 gen(seed);
        std::vector<uint8_t> y(n);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                y[static_cast<size_t>(r) * w + c] = static_cast<uint8_t>((c * 3 + r * 2) % 180 + 30 + gen() % 9);
        return y;
    };
    const int k = t % 40;
    if (k < 6) return picture(1);
    if (k < 14) return picture(k % 2 ? 2 : 1);
    if (k < 22) {
        std::vector<uint8_t> y = picture(1);
        if (k % 2) {
            const int lastX = (w / 8) * 8 - 1, lastY = (h / 8) * 8 - 1;
            y[static_cast<size_t>(lastY) * w + lastX] ^= 1;
            y[static_cast<size_t>(k) * w + 3 * k] ^= 1;
            y[static_cast<size_t>(h - 1) * w + (w - 1)] ^= 8;  // beyond the block grid
        }
        return y;
    }
    if (k < 30) return picture(static_cast<uint32_t>(100 + t));
    if (k < 35) return picture(static_cast<uint32_t>(100 + t - k + 29));
    return std::vector<uint8_t>(n, 0);
}

// The console without the timing report, which differs from run to run.
std::string consoleRows(const std::string& out) {
    return out.substr(0, out.find("Calculation time:"));
}

void expectSameAsReference(int w, int h, int frames, const std::string& runArgs) {
    WorkDir dir;
    dir.write("clip.yuv", makeClip(w, h, frames, [&](int t) { return stretchLuma(w, h, t); }));
    const std::string args = "clip.yuv " + std::to_string(w) + " " + std::to_string(h) + " " + runArgs;
    RunResult fast = runIn(dir, args);
    ASSERT_EQ(fast.status, 0) << fast.err;
    RunResult ref = runIn(dir, args, LUMAQC_REFERENCE_BINARY);
    ASSERT_EQ(ref.status, 0) << ref.err;
    EXPECT_EQ(fast.log, ref.log) << w << "x" << h << " " << runArgs;
    EXPECT_EQ(consoleRows(fast.out), consoleRows(ref.out)) << w << "x" << h << " " << runArgs;

    // The clip does what it is made for: frozen rows, and flickering reports
    // other than the initial 0 and the -1 of the non-reporting calls.
    std::set<std::string> freezing, flickering;
    const std::vector<std::string> lines = linesOf(fast.log);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = fieldsOf(lines[i]);
        ASSERT_EQ(fields.size(), 16u) << lines[i];
        freezing.insert(fields[9]);
        flickering.insert(fields[15]);
    }
    EXPECT_TRUE(freezing.count("1")) << fast.log;
    flickering.erase("0.00000");
    flickering.erase("-1.00000");
    EXPECT_FALSE(flickering.empty()) << fast.log;
}
}  // namespace

TEST(FrameSequenceReference, SameRowsOverFrozenAlternatingAndChangingStretches) {
    // 9 x 7 blocks select one; 25 x 14 blocks select ten.
    expectSameAsReference(75, 61, 40, "");
    expectSameAsReference(203, 117, 45, "30");
    // From frame 3 on: the periods start elsewhere in the stretches.
    expectSameAsReference(203, 117, 45, "25 33 3");
}
