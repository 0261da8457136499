// The per-stream context behind the public API: every picture, counter and
// scratch buffer one stream of frames needs, allocated when it opens.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "indicators/indicators.hpp"
#include "lumaqc/lumaqc.h"
#include "tools/definitions.hpp"

namespace lumaqc {

class Stream {
public:
    // Fails (a negative error code in *status) when the pictures cannot be
    // allocated; sizes and settings are checked by the caller.
    Stream(int32_t width, int32_t height, const lumaqc_settings& settings, Isa isa, int* status);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // The buffer the next frame may be written into (width x height, packed).
    uint8_t* frameBuffer() { return current_.data; }
    // Analyses the next frame (stride >= width, checked by the caller).
    void analyse(const uint8_t* luma, ptrdiff_t stride, lumaqc_result* result);
    const lumaqc_times& times() const { return times_; }
    Isa isa() const { return indicators_.isa; }
    int32_t width() const { return width_; }

private:
    template <typename Set>
    void runIndicators(lumaqc_result& r);
    template <typename Call>
    auto timed(lumaqc_indicator which, Call&& call);

    int32_t width_;
    int32_t height_;
    double fps_;
    bool reference_;
    bool measure_;
    Image current_{};
    Image previous_{};
    Image flickerCounts_{};  // switch counts per 8 x 8 block
    Image flickerStates_{};  // still (0) or changing (1) per 8 x 8 block
    IndicatorState indicators_;
    int32_t referenceFreezingTemp_ = 0;
    int32_t referenceFrameCount_ = 0;
    // The values that persist until the frame-to-frame indicators run again.
    double temporalActivity_ = 0.0;
    uint8_t freezing_ = 0;
    double flickering_ = 0.0;
    int64_t analysed_ = 0;
    lumaqc_times times_{};
};

}  // namespace lumaqc

// The opaque handle of the public API.
struct lumaqc_context {
    lumaqc::Stream stream;
    lumaqc_context(int32_t width, int32_t height, const lumaqc_settings& settings, lumaqc::Isa isa, int* status)
        : stream(width, height, settings, isa, status) {}
};
