// The one-pass analysis against the reference compositions, every value bit
// for bit, in every instruction-set variant and for bands of several heights:
// pictures whose last band holds one row, exactly the rows a neighbourhood
// reaches across a border, or a whole band, and block and region grids that
// straddle band borders.
#include <gtest/gtest.h>

#include <random>

#include "indicators/fused.hpp"
#include "lib/values.hpp"
#include "reference/reference.hpp"
#include "support/blockLossSlicePictures.hpp"
#include "support/blurNoisePictures.hpp"
#include "support/exactness.hpp"

using namespace lumaqc;

namespace {

struct Values {
    double v[13];
    uint8_t blackout;
    std::vector<double> added;  // the values added since 1.0, in column order
};

// The values added since 1.0 in r, in column order (flags as doubles).
std::vector<double> addedValues(const lumaqc_result& r) {
    std::vector<double> out;
    for (int i = 0; i < lumaqc_value_count(); ++i) {
        if (lumaqc_value_info_at(i)->indicator < kValueCount1_0) continue;
        double v = 0.0;
        lumaqc_get_value(&r, i, &v);
        out.push_back(v);
    }
    return out;
}

// The literal compositions of the added values, called through the table.
std::vector<double> addedReferenceValues(const Image* cur, const Image* prev) {
    IndicatorState state;
    lumaqc_result r{};
    for (const ValueEntry& e : kValueEntries)
        if (e.added != 0 && e.inPass && (e.stage == Stage::Picture || prev != nullptr))
            e.literal(cur, prev, state, r);
    return addedValues(r);
}

constexpr const char* kNames[13] = {"blockiness", "spatial activity", "letterbox", "pillarbox", "block loss",
                                    "blur",       "exposure",         "interlace", "noise",     "slice",
                                    "contrast",   "temporal activity", "blackout"};

Values referenceValues(const Image* cur, const Image* prev) {
    return {{reference::blockiness(cur), reference::spatialActivity(cur), reference::letterbox(cur),
             reference::pillarbox(cur), reference::blockLoss(cur), reference::blur(cur), reference::exposure(cur),
             reference::interlace(cur), reference::noise(cur, MessageSink{}), reference::slice(cur),
             reference::contrastRMS(cur), reference::temporalActivity(cur, prev), 0.0},
            reference::blackout(cur), addedReferenceValues(cur, prev)};
}

Values valuesOf(const lumaqc_result& r) {
    return {{r.blockiness, r.spatial_activity, r.letterbox, r.pillarbox, r.block_loss, r.blur, r.exposure, r.interlace,
             r.noise, r.slice, r.contrast, r.temporal_activity, 0.0},
            r.blackout, addedValues(r)};
}

// The values of cur on a state that analysed prev just before (blur then
// starts from prev's threshold step), and on one that analysed cur itself
// before (blur's steps are all measured in the bands). With changedBlocks,
// the pass also marks the changed blocks for flickering, which takes block
// difference's sums from the temporal activity's reads.
std::pair<Values, Values> fusedValues(const Image* cur, const Image* prev, Isa isa, uint32_t bandRows,
                                      bool changedBlocks) {
    IndicatorState state;
    state.isa = isa;
    state.bandRows = bandRows;
    lumaqc_result r{};
    uint64_t cycles[LUMAQC_INDICATOR_COUNT];
    analysePicture(prev, nullptr, state, r, cycles);
    std::vector<uint8_t> changes((cur->w / 8) * (cur->h / 8) + 1);
    if (changedBlocks) state.flickerChanges = changes.data();
    analysePicture(cur, prev, state, r, cycles);
    const Values afterPrev = valuesOf(r);
    analysePicture(cur, prev, state, r, nullptr);
    return {afterPrev, valuesOf(r)};
}

// A picture of the given size whose previous picture differs in scattered places.
struct PicturePair {
    NamedPicture cur, prev;
};

PicturePair pairOf(NamedPicture cur, uint32_t seed) {
    const Image* img = cur.get();
    const uint64_t w = img->w;
    std::mt19937 gen(seed);
    NamedPicture prev = namedPicture("before " + cur.name, img->w, img->h, [&](uint64_t x, uint64_t y) {
        const uint32_t r = gen();
        return r % 5 == 0 ? uint8_t(r >> 8) : img->data[y * w + x];
    });
    return {std::move(cur), std::move(prev)};
}

void expectSame(const std::vector<NamedPicture>& pictures, const std::vector<uint32_t>& bandRows) {
    uint32_t seed = 7;
    for (const NamedPicture& p : pictures) {
        const PicturePair pair = pairOf(p, seed++);
        const Values want = referenceValues(pair.cur.get(), pair.prev.get());
        for (Isa isa : runnableIsas()) {
            for (uint32_t band : bandRows) {
                for (bool changedBlocks : {false, true}) {
                    const auto [first, again] = fusedValues(pair.cur.get(), pair.prev.get(), isa, band, changedBlocks);
                    const std::string where = p.name + " [" + isaName(isa) + ", bands of " +
                                              (band == 0 ? std::string("default") : std::to_string(band)) + " rows" +
                                              (changedBlocks ? ", changed blocks" : "") + "]";
                    for (const Values& got : {first, again}) {
                        for (int i = 0; i < 12; ++i)
                            EXPECT_TRUE(sameResult(got.v[i], want.v[i]))
                                << where << " " << kNames[i] << ": fused " << describe(got.v[i]) << ", reference "
                                << describe(want.v[i]);
                        EXPECT_EQ(got.blackout, want.blackout) << where << " blackout";
                        ASSERT_EQ(got.added.size(), want.added.size());
                        for (size_t i = 0; i < want.added.size(); ++i)
                            EXPECT_TRUE(sameResult(got.added[i], want.added[i]))
                                << where << " added value " << i << ": fused " << describe(got.added[i])
                                << ", reference " << describe(want.added[i]);
                    }
                }
            }
        }
    }
}

// Heights around multiples of the band height: a last band of 1 row, of 2
// (the reach of the blockiness lines), of 8 and 15, exactly a band, and a
// band plus one; with textured and block-structured content.
std::vector<NamedPicture> bandBorderPictures(uint64_t w, uint32_t band) {
    std::vector<NamedPicture> out;
    uint32_t seed = band * 31 + static_cast<uint32_t>(w);
    for (uint64_t extra : {1u, 2u, 8u, 15u, 16u, 17u, 31u, 33u}) {
        const uint64_t h = 2 * band + extra;
        std::mt19937 gen(seed++);
        out.push_back(namedPicture("noisy ramp", w, h, [&](uint64_t x, uint64_t y) {
            return uint8_t((x * 3 + y * 7) / 5 % 220 + 10 + gen() % 9);
        }));
        out.push_back(namedPicture("blocks", w, h, [&](uint64_t x, uint64_t y) {
            return uint8_t(((x / 8) * 37 + (y / 8) * 91 + (y % 2) * 3) % 256);
        }));
    }
    return out;
}

}  // namespace

TEST(FusedExact, SameAsReferenceOnEveryPictureOfTheIndicatorTests) {
    std::vector<NamedPicture> pictures = allPictures();
    for (auto more : {smallRandomPictures(), blurStressPictures(), noiseStressPictures(), stress::blockLossPictures(),
                      stress::slicePictures()})
        pictures.insert(pictures.end(), more.begin(), more.end());
    expectSame(pictures, {0, 16});
}

TEST(FusedExact, LastBandOfOneRowTheOverlapOrAWholeBand) {
    for (uint32_t band : {16u, 32u, 48u})
        for (uint64_t w : {23u, 64u, 300u}) expectSame(bandBorderPictures(w, band), {band});
}

TEST(FusedExact, RegionGridsStraddleBandBorders) {
    // Block-loss regions of 256 rows and 16-row boundaries crossing bands of
    // 48 and 80 rows; strong edges on the 16 grid so that runs are counted.
    std::vector<NamedPicture> pictures;
    for (uint64_t h : {256u, 257u, 513u, 530u}) {
        std::mt19937 gen(static_cast<uint32_t>(h));
        pictures.push_back(namedPicture("grid edges", 272, h, [&](uint64_t x, uint64_t y) {
            const bool edge = x % 16 == 0 || y % 16 == 0;
            return uint8_t(edge ? 250 - gen() % 3 : 20 + (x * y) % 40 + gen() % 4);
        }));
    }
    expectSame(pictures, {0, 16, 48, 80});
}

TEST(FusedExact, BlurFromTheStepsOfThePictureBeforeOrAScanOfItsOwn) {
    // Textures of rising and falling contrast: the threshold step of each
    // picture lies above, inside or below the range measured in the bands.
    for (Isa isa : runnableIsas()) {
        IndicatorState state;
        state.isa = isa;
        int inBands = 0, rescanned = 0;
        for (int amplitude : {40, 44, 36, 120, 8, 9, 200, 60, 61, 3}) {
            std::mt19937 gen(static_cast<uint32_t>(amplitude));
            const NamedPicture p = namedPicture("texture " + std::to_string(amplitude), 203, 77, [&](uint64_t x, uint64_t y) {
                return uint8_t(128 + static_cast<int>((x * 13 + y * 7) % 17) * amplitude / 17 - amplitude / 2 +
                               static_cast<int>(gen() % 3));
            });
            lumaqc_result r{};
            analysePicture(p.get(), nullptr, state, r, nullptr);
            const bool measured = state.blurBands.active && state.blurBands.lastStep >= state.blurBands.low;
            (measured ? inBands : rescanned) += 1;
            EXPECT_TRUE(sameResult(r.blur, reference::blur(p.get())))
                << p.name << " [" << isaName(isa) << "]: fused " << describe(r.blur) << ", reference "
                << describe(reference::blur(p.get()));
        }
        EXPECT_GT(inBands, 0) << isaName(isa);
        EXPECT_GT(rescanned, 1) << isaName(isa);
    }
}

TEST(FusedExact, BlurWhateverTheStepOfThePictureBefore) {
    // The same picture after pictures of every threshold step from 1 to 255:
    // the steps measured in the bands start below, at, just above and far
    // above this picture's own step.
    std::mt19937 gen(5);
    // Steps every 9 columns, of heights 10, 12, ... 88, on faint noise.
    const NamedPicture p = namedPicture("steps of every height", 730, 40, [&](uint64_t x, uint64_t) {
        return uint8_t(60 + ((x / 9) % 2) * (10 + (x / 18) % 40 * 2) + gen() % 3);
    });
    const double want = reference::blur(p.get());
    ASSERT_GT(want, 0.0);
    for (Isa isa : runnableIsas()) {
        for (uint32_t last = 1; last <= 255; ++last) {
            IndicatorState state;
            state.isa = isa;
            state.blurBands.lastStep = last;
            lumaqc_result r{};
            analysePicture(p.get(), nullptr, state, r, nullptr);
            EXPECT_TRUE(sameResult(r.blur, want)) << isaName(isa) << " after a step of " << last << ": fused "
                                                  << describe(r.blur) << ", reference " << describe(want);
        }
    }
}
