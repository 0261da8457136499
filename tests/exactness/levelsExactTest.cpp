#include <gtest/gtest.h>

#include <functional>

#include "indicators/fused.hpp"
#include "indicators/indicators.hpp"
#include "reference/reference.hpp"
#include "support/exactness.hpp"
#include "support/fastPicturePictures.hpp"

using namespace lumaqc;

namespace {

// One signal-level value: its fast entry point, its literal composition and
// its field of the one-pass result.
struct LevelValue {
    const char* name;
    double (*fast)(const Image*, IndicatorState&);
    std::function<double(const Image*, const LumaRange&)> ref;
    double lumaqc_result::*field;
    bool ranged;  // depends on the range
};

const LevelValue kLevelValues[] = {
    {"luma_min", lumaMin, [](const Image* p, const LumaRange&) { return reference::lumaMin(p); },
     &lumaqc_result::luma_min, false},
    {"luma_low", lumaLow, [](const Image* p, const LumaRange&) { return reference::lumaLow(p); },
     &lumaqc_result::luma_low, false},
    {"luma_avg", lumaAvg, [](const Image* p, const LumaRange&) { return reference::lumaAvg(p); },
     &lumaqc_result::luma_avg, false},
    {"luma_high", lumaHigh, [](const Image* p, const LumaRange&) { return reference::lumaHigh(p); },
     &lumaqc_result::luma_high, false},
    {"luma_max", lumaMax, [](const Image* p, const LumaRange&) { return reference::lumaMax(p); },
     &lumaqc_result::luma_max, false},
    {"below_range", belowRange, reference::belowRange, &lumaqc_result::below_range, true},
    {"above_range", aboveRange, reference::aboveRange, &lumaqc_result::above_range, true},
};

// The default, the nominal and the full range, and one of a single code.
const LumaRange kRanges[] = {{5, 246}, {16, 235}, {0, 255}, {128, 128}};

// Pictures whose samples sit on the range edges: a patch of codes lo .. hi
// on a mid-grey field, at the grid's corners and off the 8 x 8 grid; then
// every small size, and long lines.
std::vector<StressPicture> edgePictures(bool smallSizes) {
    std::vector<StressPicture> pictures;
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{8, 8}, {37, 21}, {1920, 1080}, {4104, 12}})
        for (int level : {0, 4, 5, 6, 15, 16, 235, 236, 245, 246, 247, 255})
            pictures.push_back(stressPicture("patch of " + std::to_string(level), w, h, [=](uint64_t x, uint64_t y) {
                return uint8_t(x < w / 3 + 1 && y < h / 2 + 1 ? level : 128);
            }));
    // Every sample outside: the counts of whole runs of samples.
    for (int level : {0, 255})
        pictures.push_back(stressPicture("field of " + std::to_string(level), 1920, 1080,
                                         [=](uint64_t, uint64_t) { return uint8_t(level); }));
    std::vector<StressPicture> more = smallSizes ? smallSizePictures() : std::vector<StressPicture>{};
    pictures.insert(pictures.end(), more.begin(), more.end());
    more = longLinePictures();
    pictures.insert(pictures.end(), more.begin(), more.end());
    return pictures;
}

}  // namespace

TEST(LevelsExact, EveryValueSameAsItsReferenceInEveryRange) {
    for (const LevelValue& v : kLevelValues)
        for (LumaRange range : kRanges) {
            if (!v.ranged && range.low != kRanges[0].low) continue;
            SCOPED_TRACE(std::string(v.name) + " in " + std::to_string(range.low) + "-" + std::to_string(range.high));
            auto fast = [&](const Image* p, IndicatorState& state) {
                state.range = range;
                return v.fast(p, state);
            };
            auto ref = [&](const Image* p) { return v.ref(p, range); };
            expectSameOnAllPictures(fast, ref);
            std::vector<StressPicture> pictures = edgePictures(true);
            expectSameOnStressPictures(pictures, fast, ref);
        }
}

TEST(LevelsExact, OnePassSameAsTheReferenceInEveryRangeAndBand) {
    // Small sizes in the one pass are FusedExact's, with the default range.
    std::vector<StressPicture> pictures = edgePictures(false);
    for (Isa isa : runnableIsas())
        for (LumaRange range : kRanges)
            for (uint32_t bandRows : {0u, 16u}) {
                IndicatorState state = stateFor(isa);
                state.range = range;
                state.bandRows = bandRows;
                for (StressPicture& p : pictures) {
                    if (p.img.w < 1 || p.img.h < 1) continue;
                    reserveScratch(state, p.img.w, p.img.h);
                    lumaqc_result r{};
                    analysePicture(p.get(), nullptr, state, r, nullptr);
                    for (const LevelValue& v : kLevelValues) {
                        const double want = v.ref(p.get(), range);
                        EXPECT_TRUE(sameResult(r.*v.field, want))
                            << v.name << " of " << p.name << " in " << int(range.low) << "-" << int(range.high)
                            << ", bands of " << bandRows << " [" << isaName(isa) << "]: one pass "
                            << describe(r.*v.field) << ", reference " << describe(want);
                    }
                }
            }
}
