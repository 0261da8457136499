#include "app/frameAnalysis.hpp"

#include <ctime>
#include <utility>

// The same driver runs either the fast indicators or, in the lumaqcReference
// executable, the literal reference compositions.
#ifdef LUMAQC_REFERENCE_INDICATORS
#include "reference/reference.hpp"
#define INDICATOR(name) reference::name
#else
#include "indicators/indicators.hpp"
#define INDICATOR(name) ::name
#endif

template <typename Call>
static auto timed(MetricTimes& times, Metric metric, Call&& call) {
    const clock_t before = clock();
    auto result = call();
    const clock_t after = clock();
    times.add(metric, before, after);
    return result;
}

void analyseFrame(RunPictures& p, bool hasPrevious, double fps, FrameRow& row, MetricTimes& times) {
    const Image* cur = &p.current;
    row.blockiness = timed(times, kBlockiness, [&] { return INDICATOR(blockiness)(cur); });
    row.spatialActivity = timed(times, kSpatialActivity, [&] { return INDICATOR(spatialActivity)(cur); });
    row.letterbox = timed(times, kLetterbox, [&] { return INDICATOR(letterbox)(cur); });
    row.pillarbox = timed(times, kPillarbox, [&] { return INDICATOR(pillarbox)(cur); });
    row.blockLoss = timed(times, kBlockLoss, [&] { return INDICATOR(blockLoss)(cur); });
    row.blur = timed(times, kBlur, [&] { return INDICATOR(blur)(cur); });
    row.exposure = timed(times, kExposure, [&] { return INDICATOR(exposure)(cur); });
    row.interlace = timed(times, kInterlace, [&] { return INDICATOR(interlace)(cur); });
    row.noise = timed(times, kNoise, [&] { return INDICATOR(noise)(cur); });
    row.slice = timed(times, kSlice, [&] { return INDICATOR(slice)(cur); });
    row.blackout = timed(times, kBlackout, [&] { return INDICATOR(blackout)(cur); });
    row.contrast = timed(times, kContrast, [&] { return INDICATOR(contrastRMS)(cur); });

    if (hasPrevious) {
        const Image* prev = &p.previous;
        row.temporalActivity = timed(times, kTemporalActivity, [&] { return INDICATOR(temporalActivity)(cur, prev); });
        row.freezing = timed(times, kFreezing, [&] { return INDICATOR(freezing)(row.blackout, row.temporalActivity, fps); });
        row.flickering = timed(times, kFlickering,
                               [&] { return INDICATOR(flickering)(cur, prev, &p.flickerCounts, &p.flickerStates); });
    }
}

void exchangeCurrentAndPrevious(RunPictures& p) { std::swap(p.current.data, p.previous.data); }
