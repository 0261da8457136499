// Labelled clips at the edges of the legal-range rule: patches of samples
// below or above the range over a share of the picture, and clean clips that
// must pass. The verdict is the gate out_of_range.count>0 of a whole run.
#include <gtest/gtest.h>

#include <cmath>

#include "runner.hpp"

namespace {

constexpr int kWidth = 160, kHeight = 120;  // 19200 samples: 0.5 % is 96 of them
constexpr int kFrames = 3;

// A mid-grey picture whose first round(share x samples) samples, in raster
// order, are code; the middle frame only when oneFrame.
std::vector<uint8_t> patchClip(double share, int code, bool oneFrame) {
    const int samples = kWidth * kHeight;
    const int patch = static_cast<int>(std::lround(share * samples));
    return makeClip(kWidth, kHeight, kFrames, [&](int t) {
        std::vector<uint8_t> luma(static_cast<size_t>(samples), 128);
        if (!oneFrame || t == 1)
            for (int i = 0; i < patch; ++i) luma[static_cast<size_t>(i)] = static_cast<uint8_t>(code);
        return luma;
    });
}

struct Labelled {
    const char* name;
    double share;     // of the picture in the patch
    int code;         // of the patch
    bool oneFrame;    // the patch in the middle frame only
    const char* options;
    bool outOfRange;  // the verdict, from the rule: more than the area outside the range
};

const Labelled kClips[] = {
    {"0.5 % below 5", 0.005, 2, false, "", false},
    {"0.9 % below 5", 0.009, 4, false, "", false},
    {"1.1 % below 5", 0.011, 4, false, "", true},
    {"5 % below 5", 0.05, 0, false, "", true},
    {"0.5 % above 246", 0.005, 255, false, "", false},
    {"0.9 % above 246", 0.009, 247, false, "", false},
    {"1.1 % above 246", 0.011, 247, false, "", true},
    {"5 % above 246", 0.05, 250, false, "", true},
    {"1.1 % above 246 in one frame", 0.011, 250, true, "", true},
    {"exactly 1 % below 5", 0.01, 0, false, "", false},
    {"5 % at code 5", 0.05, 5, false, "", false},
    {"5 % at code 246", 0.05, 246, false, "", false},
    {"clean mid grey", 0.0, 128, false, "", false},
    {"5 % at 240, nominal range", 0.05, 240, false, "--range nominal", true},
    {"5 % at 235, nominal range", 0.05, 235, false, "--range nominal", false},
    {"5 % at 0, full range", 0.05, 0, false, "--range full", false},
    {"1.1 % at 30, range 32-200", 0.011, 30, false, "--range 32-200", true},
    {"5 % below 5, area 5 %", 0.05, 0, false, "--range-area 0.05", false},
    {"1.1 % below 5, area 2 %", 0.011, 0, false, "--range-area=0.02", false},
    {"0.5 % below 5, area 0", 0.005, 0, false, "--range-area 0", true},
};

}  // namespace

TEST(LegalRange, LabelledClipsGetTheirVerdicts) {
    WorkDir dir;
    for (const Labelled& c : kClips) {
        dir.write("clip.yuv", patchClip(c.share, c.code, c.oneFrame));
        const RunResult r = runIn(dir, std::string("--quiet --no-progress --fail-if 'out_of_range.count>0' ") +
                                           c.options + " clip.yuv " + std::to_string(kWidth) + " " +
                                           std::to_string(kHeight));
        EXPECT_EQ(r.status, c.outOfRange ? 1 : 0) << c.name << ": " << r.err;
    }
}

TEST(LegalRange, SegmentNamesItsWorstFrameAndTheSettingsTheRange) {
    // Patches of 2 %, 3 % below and 1 % above: frames 1 to 3 are out of range, frame 2 the worst.
    WorkDir dir;
    const int samples = kWidth * kHeight;
    const int below[] = {0, 2, 3, 2, 0}, above[] = {0, 0, 1, 1, 0};
    dir.write("clip.yuv", makeClip(kWidth, kHeight, 5, [&](int t) {
                  std::vector<uint8_t> luma(static_cast<size_t>(samples), 128);
                  for (int i = 0; i < below[t] * samples / 100; ++i) luma[static_cast<size_t>(i)] = 1;
                  for (int i = 0; i < above[t] * samples / 100; ++i) luma[static_cast<size_t>(samples - 1 - i)] = 254;
                  return luma;
              }));
    const RunResult r = runIn(dir, "--quiet --no-progress --events --range 3-250 --json out.json clip.yuv 160 120");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = readFile(dir.file("out.json"));
    const std::string segment =
        "{\"type\": \"out_of_range\", \"first_frame\": 1, \"last_frame\": 3, \"out_of_range_start\": 0.04, "
        "\"out_of_range_end\": 0.16, \"out_of_range_duration\": 0.12, \"worst_frame\": 2, "
        "\"worst_below_range\": 0.03, \"worst_above_range\": 0.01}";
    EXPECT_NE(json.find(segment), std::string::npos) << json;
    EXPECT_NE(json.find("\"range\": \"3-250\", \"range_low\": 3, \"range_high\": 250, \"range_area\": 0.01"),
              std::string::npos);
    EXPECT_NE(r.out.find("out_of_range_start: 0.04 out_of_range_end: 0.16 out_of_range_duration: 0.12 first_frame: 1 "
                         "last_frame: 3 worst_frame: 2 below_range: 0.03 above_range: 0.01"),
              std::string::npos)
        << r.out;
}
