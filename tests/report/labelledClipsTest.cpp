// Short clips made here, whose bars and fields are known by construction,
// analysed by the library and cut into segments with the default options:
// each gives exactly the events it was made with.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lumaqc/lumaqc.h"
#include "report/segments.hpp"

using lumaqc::FrameRow;
using namespace lumaqc::report;

namespace {

constexpr int32_t kW = 96, kH = 64;

// The scene at time t: a texture that changes along the rows only (so each
// field is smooth down its columns), a bright square moving 5 pixels per
// time step, and dark bars.
struct Bars {
    int top = 0, bottom = 0, left = 0, right = 0;
};

uint8_t scene(int x, int y, int t, Bars b) {
    if (y < b.top || y >= kH - b.bottom || x < b.left || x >= kW - b.right) return static_cast<uint8_t>(16 + (x + y) % 2);
    const int square = (5 * t) % 60;
    if (x >= square && x < square + 24 && y >= 20 && y < 44) return 220;
    return static_cast<uint8_t>(60 + (x * 7) % 50 + y / 8);
}

// fieldTime(y, n): the time row y of frame n shows.
using Timing = std::function<int(int, int)>;
const Timing kProgressive = [](int, int n) { return 2 * n; };
const Timing kTopFirst = [](int y, int n) { return 2 * n + (y % 2); };
const Timing kBottomFirst = [](int y, int n) { return 2 * n + 1 - (y % 2); };

// The events of frames made by bars(n) and the timing, as segmentLine writes them.
std::vector<std::string> eventsOf(int frames, const std::function<Bars(int)>& bars, const Timing& timing) {
    lumaqc_context* ctx = nullptr;
    EXPECT_EQ(lumaqc_open(&ctx, kW, kH, nullptr), LUMAQC_OK);
    SegmentDetector detector(SegmentOptions{}, 25.0, kW, kH);
    std::vector<Segment> segments;
    std::vector<uint8_t> picture(static_cast<size_t>(kW * kH));
    for (int n = 0; n < frames; ++n) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) picture[static_cast<size_t>(y * kW + x)] = scene(x, y, timing(y, n), bars(n));
        FrameRow row;
        row.frame = n;
        EXPECT_EQ(lumaqc_analyse(ctx, picture.data(), kW, &row.values), LUMAQC_OK);
        detector.add(row, segments);
    }
    detector.finish(segments);
    lumaqc_close(&ctx);
    std::vector<std::string> lines;
    for (const Segment& s : segments) {
        const std::string line = segmentLine(s);
        // The kind and the frames, then what the event carries beyond its times.
        const size_t frames = line.find(" first_frame: ");
        lines.push_back(std::string(segmentKindName(s.kind)) + line.substr(frames));
    }
    return lines;
}

}  // namespace

TEST(LabelledClips, EachClipGivesTheEventsItWasMadeWith) {
    struct Clip {
        const char* name;
        int frames;
        std::function<Bars(int)> bars;
        Timing timing;
        std::vector<std::string> events;
    };
    const auto fixed = [](Bars b) { return [b](int) { return b; }; };
    const Clip clips[] = {
        {"clean progressive motion", 6, fixed({}), kProgressive, {}},
        {"dark edges thinner than a bar", 6, fixed({2, 0, 3, 1}), kProgressive, {}},
        {"letterbox", 6, fixed({8, 8, 0, 0}), kProgressive,
         {"letterbox first_frame: 0 last_frame: 5 top: 8 bottom: 8 left: 0 right: 0 crop: 96:48:0:8"}},
        {"top bar only", 5, fixed({6, 0, 0, 0}), kProgressive,
         {"letterbox first_frame: 0 last_frame: 4 top: 6 bottom: 0 left: 0 right: 0 crop: 96:58:0:6"}},
        {"right bar only", 5, fixed({0, 0, 0, 12}), kProgressive,
         {"pillarbox first_frame: 0 last_frame: 4 top: 0 bottom: 0 left: 0 right: 12 crop: 84:64:0:0"}},
        {"windowbox", 4, fixed({8, 8, 10, 10}), kProgressive,
         {"letterbox first_frame: 0 last_frame: 3 top: 8 bottom: 8 left: 10 right: 10 crop: 76:48:10:8",
          "pillarbox first_frame: 0 last_frame: 3 top: 8 bottom: 8 left: 10 right: 10 crop: 76:48:10:8"}},
        {"bars that change", 8, [](int n) { return n < 4 ? Bars{6, 6, 0, 0} : Bars{16, 16, 0, 0}; }, kProgressive,
         {"letterbox first_frame: 0 last_frame: 3 top: 6 bottom: 6 left: 0 right: 0 crop: 96:52:0:6",
          "letterbox first_frame: 4 last_frame: 7 top: 16 bottom: 16 left: 0 right: 0 crop: 96:32:0:16"}},
        {"bars that come and go", 8, [](int n) { return n >= 2 && n < 6 ? Bars{0, 0, 8, 8} : Bars{}; },
         kProgressive,
         {"pillarbox first_frame: 2 last_frame: 5 top: 0 bottom: 0 left: 8 right: 8 crop: 80:64:8:0"}},
        {"top field first", 6, fixed({}), kTopFirst,
         {"interlaced first_frame: 0 last_frame: 5 field_order: tff"}},
        {"bottom field first", 6, fixed({}), kBottomFirst,
         {"interlaced first_frame: 0 last_frame: 5 field_order: bff"}},
        {"interlaced and letterboxed", 4, fixed({8, 8, 0, 0}), kTopFirst,
         {"letterbox first_frame: 0 last_frame: 3 top: 8 bottom: 8 left: 0 right: 0 crop: 96:48:0:8",
          "interlaced first_frame: 0 last_frame: 3 field_order: tff"}},
    };
    for (const Clip& clip : clips) EXPECT_EQ(eventsOf(clip.frames, clip.bars, clip.timing), clip.events) << clip.name;
}
