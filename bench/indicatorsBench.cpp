// Processor time of every indicator, the literal reference composition
// against the fast version, on 1920x1080 and 3840x2160 pictures.
// Run: build with -DLUMAQC_BENCH=ON, then build/lumaqc_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "indicators/fused.hpp"
#include "indicators/indicators.hpp"
#include "reference/reference.hpp"

using namespace lumaqc;

namespace {

// A picture with texture, smooth areas, sharp and soft edges and a little
// noise, so that every indicator has work to do.
struct BenchPicture {
    std::vector<uint8_t> pixels;
    Image img;
    BenchPicture(uint64_t w, uint64_t h, uint32_t seed) : pixels(w * h), img{w, h, pixels.data()} {
        uint32_t state = seed;
        for (uint64_t y = 0; y < h; ++y)
            for (uint64_t x = 0; x < w; ++x) {
                state = state * 1664525u + 1013904223u;
                int v = static_cast<int>((x * 3 + y * 2) % 160) + 40 + static_cast<int>(state >> 29) - 4;
                if ((x / 64 + y / 64) % 5 == 0) v = 200;
                if (x % 97 < 3) v = (v + 255) / 2;
                pixels[y * w + x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
    }
};

struct Pictures {
    BenchPicture cur, prev;
    Image counts, states;
    Pictures(uint64_t w, uint64_t h)
        : cur(w, h, 1), prev(w, h, 2), counts(callocImage(w / 8, h / 8)), states(callocImage(w / 8, h / 8)) {}
};

Pictures& picturesFor(int64_t w, int64_t) {
    static Pictures hd(1920, 1080);
    static Pictures uhd(3840, 2160);
    return w == 1920 ? hd : uhd;
}

template <typename F>
void runPicture(benchmark::State& state, F f) {
    Pictures& p = picturesFor(state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(f(&p.cur.img));
    state.SetItemsProcessed(state.iterations());
}

// The state of one benchmark's fast calls: the best variant, messages dropped.
IndicatorState benchState() {
    IndicatorState state;
    state.isa = bestSupportedIsa();
    return state;
}

#define PICTURE_BENCH(name)                                                                          \
    void BM_##name##_reference(benchmark::State& s) { runPicture(s, [](const Image* i) { return reference::name(i); }); } \
    void BM_##name##_fast(benchmark::State& s) {                                                                        \
        IndicatorState state = benchState();                                                                            \
        runPicture(s, [&state](const Image* i) { return ::name(i, state); });                                           \
    }                                                                                                                   \
    BENCHMARK(BM_##name##_reference)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);           \
    BENCHMARK(BM_##name##_fast)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

PICTURE_BENCH(blockiness)
PICTURE_BENCH(spatialActivity)
PICTURE_BENCH(letterbox)
PICTURE_BENCH(pillarbox)
PICTURE_BENCH(blockLoss)
PICTURE_BENCH(blur)
PICTURE_BENCH(exposure)
PICTURE_BENCH(interlace)
PICTURE_BENCH(slice)
PICTURE_BENCH(blackout)
PICTURE_BENCH(contrastRMS)

void BM_noise_reference(benchmark::State& s) {
    runPicture(s, [](const Image* i) { return reference::noise(i, MessageSink{}); });
}
void BM_noise_fast(benchmark::State& s) {
    IndicatorState state = benchState();
    runPicture(s, [&state](const Image* i) { return ::noise(i, state); });
}
BENCHMARK(BM_noise_reference)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_noise_fast)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

void BM_temporalActivity_reference(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    for (auto _ : s) benchmark::DoNotOptimize(reference::temporalActivity(&p.cur.img, &p.prev.img));
}
void BM_temporalActivity_fast(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    IndicatorState state = benchState();
    for (auto _ : s) benchmark::DoNotOptimize(::temporalActivity(&p.cur.img, &p.prev.img, state));
}
BENCHMARK(BM_temporalActivity_reference)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_temporalActivity_fast)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

void BM_flickering_reference(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    int32_t frameCount = 0;
    for (auto _ : s)
        benchmark::DoNotOptimize(reference::flickering(&p.cur.img, &p.prev.img, &p.counts, &p.states, frameCount));
}
void BM_flickering_fast(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    IndicatorState state = benchState();
    for (auto _ : s) benchmark::DoNotOptimize(::flickering(&p.cur.img, &p.prev.img, &p.counts, &p.states, state));
}
BENCHMARK(BM_flickering_reference)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_flickering_fast)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// The one-pass analysis of all twelve picture indicators and temporal
// activity, against the per-indicator calls it replaces.
void BM_allPictureIndicators_fused(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    IndicatorState state = benchState();
    lumaqc_result r{};
    for (auto _ : s) {
        analysePicture(&p.cur.img, &p.prev.img, state, r, nullptr);
        benchmark::DoNotOptimize(r);
    }
}
void BM_allPictureIndicators_perIndicator(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    IndicatorState state = benchState();
    lumaqc_result r{};
    for (auto _ : s) {
        r.blockiness = ::blockiness(&p.cur.img, state);
        r.spatial_activity = ::spatialActivity(&p.cur.img, state);
        r.letterbox = ::letterbox(&p.cur.img, state);
        r.pillarbox = ::pillarbox(&p.cur.img, state);
        r.block_loss = ::blockLoss(&p.cur.img, state);
        r.blur = ::blur(&p.cur.img, state);
        r.exposure = ::exposure(&p.cur.img, state);
        r.interlace = ::interlace(&p.cur.img, state);
        r.noise = ::noise(&p.cur.img, state);
        r.slice = ::slice(&p.cur.img, state);
        r.blackout = ::blackout(&p.cur.img, state);
        r.contrast = ::contrastRMS(&p.cur.img, state);
        r.temporal_activity = ::temporalActivity(&p.cur.img, &p.prev.img, state);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_allPictureIndicators_fused)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// The one pass with groups of the values added since 1.0 left out (the third
// argument: LUMAQC_SKIP_* bits, 0 none): their cost, as ratios of these times.
// Run with --benchmark_repetitions and --benchmark_enable_random_interleaving
// so that a shared machine's load falls on every variant alike.
void BM_onePassSkipping(benchmark::State& s) {
    Pictures& p = picturesFor(s.range(0), s.range(1));
    IndicatorState state = benchState();
    state.skipAdded = static_cast<uint32_t>(s.range(2));
    lumaqc_result r{};
    for (auto _ : s) {
        analysePicture(&p.cur.img, &p.prev.img, state, r, nullptr);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_onePassSkipping)
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, LUMAQC_SKIP_EVENT_VALUES})
    ->Args({1920, 1080, LUMAQC_SKIP_LEVEL_VALUES})
    ->Args({1920, 1080, LUMAQC_SKIP_ADDED_ALL})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_allPictureIndicators_perIndicator)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

}  // namespace
