#include "lib/context.hpp"

#include <cstring>
#include <ctime>
#include <utility>

#include "reference/reference.hpp"

namespace lumaqc {

Stream::Stream(int32_t width, int32_t height, const lumaqc_settings& settings, Isa isa, int* status)
    : width_(width),
      height_(height),
      fps_(settings.fps),
      reference_(settings.indicators == LUMAQC_INDICATORS_REFERENCE),
      measure_(settings.measure_time != 0) {
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = static_cast<uint64_t>(height);
    current_ = callocImage(w, h);
    previous_ = callocImage(w, h);
    flickerCounts_ = callocImage(w >> 3, h >> 3);
    flickerStates_ = callocImage(w >> 3, h >> 3);
    const bool gridEmpty = (w >> 3) * (h >> 3) == 0;
    if (current_.data == nullptr || previous_.data == nullptr ||
        (!gridEmpty && (flickerCounts_.data == nullptr || flickerStates_.data == nullptr))) {
        *status = LUMAQC_ERROR_NO_MEMORY;
        return;
    }
    indicators_.isa = isa;
    indicators_.messages = MessageSink{settings.message, settings.message_user};
    try {
        reserveScratch(indicators_, w, h);
    } catch (...) {
        *status = LUMAQC_ERROR_NO_MEMORY;
        return;
    }
    *status = LUMAQC_OK;
}

Stream::~Stream() {
    freeImage(&current_);
    freeImage(&previous_);
    freeImage(&flickerCounts_);
    freeImage(&flickerStates_);
}

template <typename Call>
auto Stream::timed(lumaqc_indicator which, Call&& call) {
    if (!measure_) return call();
    const clock_t before = clock();
    auto result = call();
    const clock_t after = clock();
    // The difference is taken in ticks, so long runs keep their resolution.
    times_.seconds[which] += static_cast<float>(after - before) / 1000000.0f;
    return result;
}

// The fast indicators, running on the stream's own state.
struct FastIndicators {
    static double blockiness(const Image* p, IndicatorState& s) { return lumaqc::blockiness(p, s); }
    static double spatialActivity(const Image* p, IndicatorState& s) { return lumaqc::spatialActivity(p, s); }
    static double letterbox(const Image* p, IndicatorState& s) { return lumaqc::letterbox(p, s); }
    static double pillarbox(const Image* p, IndicatorState& s) { return lumaqc::pillarbox(p, s); }
    static double blockLoss(const Image* p, IndicatorState& s) { return lumaqc::blockLoss(p, s); }
    static double blur(const Image* p, IndicatorState& s) { return lumaqc::blur(p, s); }
    static double exposure(const Image* p, IndicatorState& s) { return lumaqc::exposure(p, s); }
    static double interlace(const Image* p, IndicatorState& s) { return lumaqc::interlace(p, s); }
    static double noise(const Image* p, IndicatorState& s) { return lumaqc::noise(p, s); }
    static double slice(const Image* p, IndicatorState& s) { return lumaqc::slice(p, s); }
    static uint8_t blackout(const Image* p, IndicatorState& s) { return lumaqc::blackout(p, s); }
    static double contrastRMS(const Image* p, IndicatorState& s) { return lumaqc::contrastRMS(p, s); }
    static double temporalActivity(const Image* c, const Image* p, IndicatorState& s) {
        return lumaqc::temporalActivity(c, p, s);
    }
    static uint8_t freezing(uint8_t flag, double ta, double fps, IndicatorState& s, int32_t&) {
        return lumaqc::freezing(flag, ta, fps, s);
    }
    static double flickering(const Image* c, const Image* p, Image* counts, Image* states, IndicatorState& s,
                             int32_t&) {
        return lumaqc::flickering(c, p, counts, states, s);
    }
};

// The literal compositions; their two counters are the stream's too.
struct ReferenceIndicators {
    static double blockiness(const Image* p, IndicatorState&) { return reference::blockiness(p); }
    static double spatialActivity(const Image* p, IndicatorState&) { return reference::spatialActivity(p); }
    static double letterbox(const Image* p, IndicatorState&) { return reference::letterbox(p); }
    static double pillarbox(const Image* p, IndicatorState&) { return reference::pillarbox(p); }
    static double blockLoss(const Image* p, IndicatorState&) { return reference::blockLoss(p); }
    static double blur(const Image* p, IndicatorState&) { return reference::blur(p); }
    static double exposure(const Image* p, IndicatorState&) { return reference::exposure(p); }
    static double interlace(const Image* p, IndicatorState&) { return reference::interlace(p); }
    static double noise(const Image* p, IndicatorState& s) { return reference::noise(p, s.messages); }
    static double slice(const Image* p, IndicatorState&) { return reference::slice(p); }
    static uint8_t blackout(const Image* p, IndicatorState&) { return reference::blackout(p); }
    static double contrastRMS(const Image* p, IndicatorState&) { return reference::contrastRMS(p); }
    static double temporalActivity(const Image* c, const Image* p, IndicatorState&) {
        return reference::temporalActivity(c, p);
    }
    static uint8_t freezing(uint8_t flag, double ta, double fps, IndicatorState&, int32_t& freezingTemp) {
        return reference::freezing(flag, ta, fps, freezingTemp);
    }
    static double flickering(const Image* c, const Image* p, Image* counts, Image* states, IndicatorState&,
                             int32_t& frameCount) {
        return reference::flickering(c, p, counts, states, frameCount);
    }
};

template <typename Set>
void Stream::runIndicators(lumaqc_result& r) {
    const Image* cur = &current_;
    IndicatorState& s = indicators_;
    r.blockiness = timed(LUMAQC_BLOCKINESS, [&] { return Set::blockiness(cur, s); });
    r.spatial_activity = timed(LUMAQC_SPATIAL_ACTIVITY, [&] { return Set::spatialActivity(cur, s); });
    r.letterbox = timed(LUMAQC_LETTERBOX, [&] { return Set::letterbox(cur, s); });
    r.pillarbox = timed(LUMAQC_PILLARBOX, [&] { return Set::pillarbox(cur, s); });
    r.block_loss = timed(LUMAQC_BLOCK_LOSS, [&] { return Set::blockLoss(cur, s); });
    r.blur = timed(LUMAQC_BLUR, [&] { return Set::blur(cur, s); });
    r.exposure = timed(LUMAQC_EXPOSURE, [&] { return Set::exposure(cur, s); });
    r.interlace = timed(LUMAQC_INTERLACE, [&] { return Set::interlace(cur, s); });
    r.noise = timed(LUMAQC_NOISE, [&] { return Set::noise(cur, s); });
    r.slice = timed(LUMAQC_SLICE, [&] { return Set::slice(cur, s); });
    r.blackout = timed(LUMAQC_BLACKOUT, [&] { return Set::blackout(cur, s); });
    r.contrast = timed(LUMAQC_CONTRAST, [&] { return Set::contrastRMS(cur, s); });

    // The frame-to-frame indicators start with the second frame; until they
    // run again their values stay.
    if (analysed_ > 0) {
        const Image* prev = &previous_;
        temporalActivity_ = timed(LUMAQC_TEMPORAL_ACTIVITY, [&] { return Set::temporalActivity(cur, prev, s); });
        freezing_ = timed(LUMAQC_FREEZING,
                          [&] { return Set::freezing(r.blackout, temporalActivity_, fps_, s, referenceFreezingTemp_); });
        flickering_ = timed(LUMAQC_FLICKERING, [&] {
            return Set::flickering(cur, prev, &flickerCounts_, &flickerStates_, s, referenceFrameCount_);
        });
    }
    r.temporal_activity = temporalActivity_;
    r.freezing = freezing_;
    r.flickering = flickering_;
}

void Stream::analyse(const uint8_t* luma, ptrdiff_t stride, lumaqc_result* result) {
    const size_t w = static_cast<size_t>(width_);
    if (luma != current_.data || stride != static_cast<ptrdiff_t>(w)) {
        for (int32_t y = 0; y < height_; ++y)
            std::memcpy(current_.data + static_cast<size_t>(y) * w, luma + static_cast<ptrdiff_t>(y) * stride, w);
    }
    lumaqc_result r{};
    r.frame = analysed_;
    r.has_previous = analysed_ > 0 ? 1 : 0;
    if (reference_)
        runIndicators<ReferenceIndicators>(r);
    else
        runIndicators<FastIndicators>(r);
    *result = r;
    ++analysed_;
    // The frame just analysed becomes the previous picture; no pixel is copied.
    std::swap(current_.data, previous_.data);
}

}  // namespace lumaqc
