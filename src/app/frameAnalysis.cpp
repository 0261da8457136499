#include "app/frameAnalysis.hpp"

#include <ctime>
#include <utility>

#include "indicators/indicators.hpp"

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
    row.blockiness = timed(times, kBlockiness, [&] { return blockiness(cur); });
    row.spatialActivity = timed(times, kSpatialActivity, [&] { return spatialActivity(cur); });
    row.letterbox = timed(times, kLetterbox, [&] { return letterbox(cur); });
    row.pillarbox = timed(times, kPillarbox, [&] { return pillarbox(cur); });
    row.blockLoss = timed(times, kBlockLoss, [&] { return blockLoss(cur); });
    row.blur = timed(times, kBlur, [&] { return blur(cur); });
    row.exposure = timed(times, kExposure, [&] { return exposure(cur); });
    row.interlace = timed(times, kInterlace, [&] { return interlace(cur); });
    row.noise = timed(times, kNoise, [&] { return noise(cur); });
    row.slice = timed(times, kSlice, [&] { return slice(cur); });
    row.blackout = timed(times, kBlackout, [&] { return blackout(cur); });
    row.contrast = timed(times, kContrast, [&] { return contrastRMS(cur); });

    if (hasPrevious) {
        const Image* prev = &p.previous;
        row.temporalActivity = timed(times, kTemporalActivity, [&] { return temporalActivity(cur, prev); });
        row.freezing = timed(times, kFreezing, [&] { return freezing(row.blackout, row.temporalActivity, fps); });
        row.flickering = timed(times, kFlickering,
                               [&] { return flickering(cur, prev, &p.flickerCounts, &p.flickerStates); });
    }
}

void exchangeCurrentAndPrevious(RunPictures& p) { std::swap(p.current.data, p.previous.data); }
