// The entry points of version 1.0, for programs built against it: the same
// calls with the sizes of its structs. Newer programs reach the *_sized
// functions through the header's inline functions of these names.
#include <cstddef>

#define LUMAQC_NO_INLINE_NAMES
#include "lumaqc/lumaqc.h"

namespace {

constexpr size_t kSettings1_0 = offsetof(lumaqc_settings, analysis_path);
constexpr size_t kResult1_0 = offsetof(lumaqc_result, flickering) + sizeof(double);
constexpr size_t kTimes1_0 = 15 * sizeof(float);

}  // namespace

extern "C" {

LUMAQC_API int lumaqc_default_settings(lumaqc_settings* settings) {
    return lumaqc_default_settings_sized(settings, kSettings1_0);
}

LUMAQC_API int lumaqc_open(lumaqc_context** context, int32_t width, int32_t height, const lumaqc_settings* settings) {
    return lumaqc_open_sized(context, width, height, settings, kSettings1_0);
}

LUMAQC_API int lumaqc_analyse(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride, lumaqc_result* result) {
    return lumaqc_analyse_sized(context, luma, stride, result, kResult1_0);
}

LUMAQC_API int lumaqc_receive_result(lumaqc_context* context, lumaqc_result* result) {
    return lumaqc_receive_result_sized(context, result, kResult1_0);
}

LUMAQC_API int lumaqc_get_times(const lumaqc_context* context, lumaqc_times* times) {
    return lumaqc_get_times_sized(context, times, kTimes1_0);
}

}  // extern "C"
