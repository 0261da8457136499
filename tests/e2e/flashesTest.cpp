// Labelled clips at the edges of the flash screening's rule: a field over a
// share of the screen alternating between two grey levels at a number of
// flashes per second, slow fades and camera flashes. The verdict is the gate
// flash.count>0 of a whole run; each is written down from the rule (more than
// 3 flashes in a second, more than a quarter of the screen, a step of at
// least 20 cd/m2 with the darker state below 160 cd/m2).
#include <gtest/gtest.h>

#include <cmath>

#include "runner.hpp"

namespace {

// 640 x 360: a row of 8 x 8 blocks is 2.2 % of the screen, so a field of 24 % (86
// rows) covers 11 block rows (24.4 %) and one of 26 % (94 rows) 12 (26.7 %).
constexpr int kWidth = 640, kHeight = 360;

// Screen luminance of the codes used (BT.1886, 200 cd/m2 at 235, 0 at 16):
// 40: 0.99, 128: 48.4, 200: 131.7, 210: 149.5, 219: 166.7, 221: 170.7,
// 230: 189.2, 232: 193.5.
struct Labelled {
    const char* name;
    int fps;
    int eighthsPerSecond;  // flashes per second x 8 (a flash: one period of the square wave)
    double area;           // share of the rows, from the top, in the field
    int dark, bright;      // the field's two codes; the rest of the screen is 128
    bool fails;
};

const Labelled kFields[] = {
    {"2.5 flashes/s at 25 fps", 25, 20, 0.6, 40, 200, false},
    {"3 flashes/s at 25 fps", 25, 24, 0.6, 40, 200, false},
    {"3.125 flashes/s at 25 fps", 25, 25, 0.6, 40, 200, true},
    {"4 flashes/s at 25 fps", 25, 32, 0.6, 40, 200, true},
    {"2.5 flashes/s at 50 fps", 50, 20, 0.6, 40, 200, false},
    {"3 flashes/s at 50 fps", 50, 24, 0.6, 40, 200, false},
    {"3.125 flashes/s at 50 fps", 50, 25, 0.6, 40, 200, true},
    {"4 flashes/s at 50 fps", 50, 32, 0.6, 40, 200, true},
    {"20 % of the screen", 25, 32, 0.2, 40, 200, false},
    {"24 % of the screen", 25, 32, 0.24, 40, 200, false},
    {"26 % of the screen", 25, 32, 0.26, 40, 200, true},
    {"17.2 cd/m2 up from 149.5", 25, 32, 0.6, 210, 219, false},
    {"21.2 cd/m2 up from 149.5", 25, 32, 0.6, 210, 221, true},
    {"18.5 cd/m2 up from 170.7", 25, 32, 0.6, 221, 230, false},
    {"22.8 cd/m2 up from 170.7", 25, 32, 0.6, 221, 232, false},
};

std::vector<uint8_t> fieldClip(const Labelled& c) {
    const int frames = 2 * c.fps;
    const int rows = static_cast<int>(std::lround(c.area * kHeight));
    return makeClip(kWidth, kHeight, frames, [&](int t) {
        // The square wave's half periods counted up to frame t, in whole numbers.
        const bool bright = (static_cast<int64_t>(t) * 2 * c.eighthsPerSecond / (8 * c.fps)) % 2 == 1;
        std::vector<uint8_t> luma(static_cast<size_t>(kWidth * kHeight), 128);
        for (int i = 0; i < rows * kWidth; ++i) luma[static_cast<size_t>(i)] = static_cast<uint8_t>(bright ? c.bright : c.dark);
        return luma;
    });
}

// Whole-screen clips at 25 fps, code by frame.
struct Sequence {
    const char* name;
    int frames;
    int (*code)(int t);
    bool fails;
};

const Sequence kSequences[] = {
    {"fade from black to white and back over 2 s", 50,
     [](int t) { return t < 25 ? 16 + 219 * t / 24 : 235 - 219 * (t - 25) / 24; }, false},
    {"one camera flash", 25, [](int t) { return t == 10 ? 235 : 100; }, false},
    {"three camera flashes in a second", 50, [](int t) { return t == 5 || t == 12 || t == 19 ? 235 : 100; }, false},
    {"four camera flashes in a second", 50,
     [](int t) { return t == 5 || t == 11 || t == 17 || t == 23 ? 235 : 100; }, true},
    // Steps of 6 to 8 cd/m2 a frame: 100 (20.1 cd/m2) to 130 (41.7) is a
    // transition only as one run of three frames; 100 to 120 (33.5) is none.
    {"ramps of three frames each way between 100 and 130, 4.2 flashes/s", 75,
     [](int t) {
         static const int cycle[] = {100, 110, 120, 130, 120, 110};
         return cycle[t % 6];
     },
     true},
    {"ramps of two frames each way between 100 and 120, 6.25 flashes/s", 75,
     [](int t) {
         static const int cycle[] = {100, 110, 120, 110};
         return cycle[t % 4];
     },
     false},
    {"a step up every 4 frames (a staircase, no flash)", 40, [](int t) { return 16 + 20 * (t / 4); }, false},
};

}  // namespace

TEST(FlashScreening, LabelledFieldsGetTheirVerdicts) {
    WorkDir dir;
    for (const Labelled& c : kFields) {
        dir.write("clip.yuv", fieldClip(c));
        const RunResult r = runIn(dir, "--quiet --no-progress --fail-if 'flash.count>0' --fps " +
                                           std::to_string(c.fps) + " clip.yuv 640 360");
        EXPECT_EQ(r.status, c.fails ? 1 : 0) << c.name << ": " << r.err;
    }
}

TEST(FlashScreening, LabelledSequencesGetTheirVerdicts) {
    WorkDir dir;
    for (const Sequence& s : kSequences) {
        dir.write("clip.yuv", makeClip(kWidth, kHeight, s.frames, [&](int t) {
                      return std::vector<uint8_t>(static_cast<size_t>(kWidth * kHeight), static_cast<uint8_t>(s.code(t)));
                  }));
        const RunResult r = runIn(dir, "--quiet --no-progress --fail-if 'flash.count>0' clip.yuv 640 360");
        EXPECT_EQ(r.status, s.fails ? 1 : 0) << s.name << ": " << r.err;
    }
}
