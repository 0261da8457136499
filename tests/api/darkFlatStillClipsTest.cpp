// Small labelled clips made here frame by frame, analysed by the library,
// and the black, flat and freeze events the default settings find in them:
// cuts to black at 16 and at 0, a fade through black, flat grey and white, a
// freeze repeated exactly and one repeated through coding noise; and clips
// that must raise none (moving texture, a slow pan, a still camera with a
// small moving object, a dark but detailed scene).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "lumaqc/lumaqc.h"
#include "report/segments.hpp"

using namespace lumaqc::report;

namespace {

constexpr int kW = 96, kH = 64;
using Picture = std::vector<uint8_t>;

uint32_t hashOf(uint32_t x, uint32_t y, uint32_t t) {
    uint32_t v = x * 73856093u ^ y * 19349663u ^ t * 83492791u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    return v ^ (v >> 15);
}

Picture pictureOf(const std::function<int(int, int)>& at) {
    Picture p(static_cast<size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const int v = at(x, y);
            p[static_cast<size_t>(y) * kW + static_cast<size_t>(x)] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    return p;
}

// Smooth detail with a little noise, seen from camera position (cx, cy) at time t.
int scene(int x, int y, double cx, double cy, uint32_t t) {
    const double u = x + cx, v = y + cy;
    return 120 + static_cast<int>(60.0 * std::sin(u / 4.0) * std::cos(v / 5.0) + 25.0 * std::sin((u + v) / 9.0)) +
           static_cast<int>(hashOf(static_cast<uint32_t>(x), static_cast<uint32_t>(y), t) % 5) - 2;
}

Picture moving(int t) { return pictureOf([&](int x, int y) { return scene(x, y, 7.0 * t, 3.0 * t, t); }); }
Picture fill(int level) { return pictureOf([&](int, int) { return level; }); }
// A picture faded towards black (16) by factor f.
Picture faded(int t, double f) {
    return pictureOf([&](int x, int y) { return 16 + static_cast<int>(f * (scene(x, y, 7.0 * t, 0, t) - 16)); });
}
// Picture p again as an encoder gives it back: a grey level up or down in
// scattered pixels, differently every time.
Picture recoded(const Picture& p, int t) {
    Picture out = p;
    for (size_t i = 0; i < out.size(); ++i) {
        const uint32_t h = hashOf(static_cast<uint32_t>(i), 7u, static_cast<uint32_t>(t));
        if (h % 4 == 0) out[i] = static_cast<uint8_t>(out[i] + (out[i] < 255 && h & 16 ? 1 : out[i] > 0 ? -1 : 0));
    }
    return out;
}
// A slow pan: one pixel a frame to the right.
Picture pan(int t) { return pictureOf([&](int x, int y) { return scene(x, y, t, 0, 0); }); }
// A still camera: the same scene with fresh sensor noise, and a small square moving across.
Picture stillCamera(int t) {
    return pictureOf([&](int x, int y) {
        if (x >= 10 + 6 * t && x < 22 + 6 * t && y >= 20 && y < 32) return 230;
        return scene(x, y, 0, 0, static_cast<uint32_t>(t));
    });
}
// Dark but not black: detail between grey levels 20 and 70.
Picture darkScene(int t) { return pictureOf([&](int x, int y) { return 45 + (scene(x, y, 5.0 * t, 0, t) - 120) / 4; }); }

using Event = std::tuple<std::string, int64_t, int64_t>;  // kind, first frame, last frame

std::vector<Event> eventsOf(const std::vector<Picture>& clip) {
    lumaqc_context* ctx = nullptr;
    EXPECT_EQ(lumaqc_open(&ctx, kW, kH, nullptr), LUMAQC_OK);
    SegmentDetector detector(SegmentOptions{}, 25.0, kW, kH);
    std::vector<Segment> segments;
    for (size_t i = 0; i < clip.size(); ++i) {
        lumaqc::FrameRow row;
        row.frame = static_cast<int64_t>(i);
        EXPECT_EQ(lumaqc_analyse(ctx, clip[i].data(), kW, &row.values), LUMAQC_OK);
        detector.add(row, segments);
    }
    detector.finish(segments);
    lumaqc_close(&ctx);
    std::vector<Event> events;
    for (const Segment& s : segments)
        if (s.kind == SegmentKind::Black || s.kind == SegmentKind::Flat || s.kind == SegmentKind::Freeze)
            events.emplace_back(segmentKindName(s.kind), s.firstFrame, s.lastFrame);
    std::sort(events.begin(), events.end(),
              [](const Event& a, const Event& b) { return std::get<1>(a) < std::get<1>(b); });
    return events;
}

}  // namespace

TEST(DarkFlatAndStillClips, DefaultSettingsFindTheBlackFlatAndFreezeEvents) {
    struct Clip {
        const char* name;
        std::function<Picture(int)> frame;
        int frames;
        std::vector<Event> events;
    };
    const Picture held = moving(3);
    const std::vector<Clip> clips = {
        {"cut to black at 16", [](int t) { return t >= 4 && t <= 6 ? fill(16) : moving(t); }, 10,
         {{"black", 4, 6}}},
        {"cut to black at 0", [](int t) { return t >= 3 && t <= 7 ? fill(0) : moving(t); }, 10, {{"black", 3, 7}}},
        {"fade out and in", [](int t) {
             const double f[] = {1, 0.6, 0.3, 0, 0, 0, 0.3, 0.6, 1, 1};
             return faded(t, f[t]);
         }, 10, {{"black", 3, 5}}},
        {"flat grey then white", [](int t) { return t >= 2 && t <= 5 ? fill(128) : t >= 8 && t <= 9 ? fill(235) : moving(t); },
         12, {{"flat", 2, 5}, {"flat", 8, 9}}},
        {"blue slate", [](int t) { return t < 6 ? fill(81) : moving(t); }, 9, {{"flat", 0, 5}}},
        {"exact freeze", [&](int t) { return t >= 3 && t <= 8 ? held : moving(t); }, 11, {{"freeze", 3, 8}}},
        {"freeze through coding noise", [&](int t) { return t >= 3 && t <= 9 ? recoded(held, t) : moving(t); }, 12,
         {{"freeze", 3, 9}}},
        {"moving texture", moving, 12, {}},
        {"slow pan", pan, 12, {}},
        {"still camera, small moving object", stillCamera, 12, {}},
        {"dark detailed scene", darkScene, 12, {}},
    };
    for (const Clip& c : clips) {
        std::vector<Picture> frames;
        for (int t = 0; t < c.frames; ++t) frames.push_back(c.frame(t));
        EXPECT_EQ(eventsOf(frames), c.events) << c.name;
    }
}
