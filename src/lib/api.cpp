// The C API: argument checks, then the stream. No exception crosses it.
#include <algorithm>
#include <cstring>
#include <new>

#include "lib/context.hpp"
#include "lib/values.hpp"
#include "lumaqc/lumaqc.h"
#include "simd/isa.hpp"

namespace {

// Largest picture: w * h * 3 must stay within 32-bit signed arithmetic.
constexpr int64_t kMaxPixels = 715827882;
constexpr int kMaxThreads = 1024;

// The best variant the mask allows and the processor runs; the plain one
// always qualifies.
lumaqc::Isa chooseIsa(uint32_t mask) {
    using lumaqc::Isa;
    if ((mask & LUMAQC_ISA_AVX512) != 0 && lumaqc::isaSupported(Isa::Avx512)) return Isa::Avx512;
    if ((mask & LUMAQC_ISA_AVX2) != 0 && lumaqc::isaSupported(Isa::Avx2)) return Isa::Avx2;
    return Isa::Generic;
}

uint32_t isaBit(lumaqc::Isa isa) {
    switch (isa) {
        case lumaqc::Isa::Avx512: return LUMAQC_ISA_AVX512;
        case lumaqc::Isa::Avx2: return LUMAQC_ISA_AVX2;
        default: return LUMAQC_ISA_GENERIC;
    }
}

lumaqc_settings defaultSettings() {
    lumaqc_settings settings{};
    settings.fps = 25.0;
    settings.isa_mask = LUMAQC_ISA_ALL;
    settings.indicators = LUMAQC_INDICATORS_FAST;
    settings.measure_time = 0;
    settings.message = nullptr;
    settings.message_user = nullptr;
    settings.threads = 0;
    settings.analysis_path = LUMAQC_PATH_ONE_PASS;
    settings.memory_budget = LUMAQC_DEFAULT_MEMORY_BUDGET;
    settings.skip_added_values = 0;
    settings.range_low = LUMAQC_RANGE_LOW;
    settings.range_high = LUMAQC_RANGE_HIGH;
    return settings;
}

// The part of a struct of this library that a caller's struct of size bytes holds.
template <typename T>
size_t callerPart(size_t size) {
    return std::min(size, sizeof(T));
}

// A result, filled into the caller's part only.
int deliver(int status, const lumaqc_result& r, lumaqc_result* result, size_t size) {
    if (status == LUMAQC_OK) std::memcpy(result, &r, callerPart<lumaqc_result>(size));
    return status;
}

}  // namespace

extern "C" {

int lumaqc_default_settings_sized(lumaqc_settings* settings, size_t size) {
    if (settings == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    if (size < sizeof settings->fps) return LUMAQC_ERROR_INVALID;
    const lumaqc_settings defaults = defaultSettings();
    std::memcpy(settings, &defaults, callerPart<lumaqc_settings>(size));
    return LUMAQC_OK;
}

int lumaqc_open_sized(lumaqc_context** context, int32_t width, int32_t height, const lumaqc_settings* settings,
                      size_t size) {
    if (context == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    *context = nullptr;
    // Settings the caller does not know keep their defaults.
    lumaqc_settings chosen = defaultSettings();
    if (settings != nullptr) {
        if (size < sizeof settings->fps) return LUMAQC_ERROR_INVALID;
        std::memcpy(&chosen, settings, callerPart<lumaqc_settings>(size));
    }
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > kMaxPixels) return LUMAQC_ERROR_SIZE;
    if ((chosen.isa_mask & LUMAQC_ISA_ALL) == 0 || (chosen.isa_mask & ~LUMAQC_ISA_ALL) != 0)
        return LUMAQC_ERROR_INVALID;
    if (chosen.indicators != LUMAQC_INDICATORS_FAST && chosen.indicators != LUMAQC_INDICATORS_REFERENCE)
        return LUMAQC_ERROR_INVALID;
    if (chosen.threads < 0 || chosen.threads > kMaxThreads || chosen.memory_budget < 0) return LUMAQC_ERROR_INVALID;
    if (chosen.analysis_path != LUMAQC_PATH_ONE_PASS && chosen.analysis_path != LUMAQC_PATH_PER_INDICATOR)
        return LUMAQC_ERROR_INVALID;
    if (chosen.range_high == 0) {
        chosen.range_low = LUMAQC_RANGE_LOW;
        chosen.range_high = LUMAQC_RANGE_HIGH;
    }
    if (chosen.range_low < 0 || chosen.range_low > chosen.range_high || chosen.range_high > 255)
        return LUMAQC_ERROR_INVALID;
    int status = LUMAQC_ERROR_NO_MEMORY;
    lumaqc_context* opened = new (std::nothrow) lumaqc_context(width, height, chosen, chooseIsa(chosen.isa_mask), &status);
    if (opened == nullptr) return LUMAQC_ERROR_NO_MEMORY;
    if (status != LUMAQC_OK) {
        delete opened;
        return status;
    }
    *context = opened;
    return LUMAQC_OK;
}

int lumaqc_frame_buffer(lumaqc_context* context, uint8_t** buffer) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (buffer == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    return context->stream.frameBuffer(buffer);
}

int lumaqc_analyse_sized(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride, lumaqc_result* result,
                         size_t size) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (luma == nullptr || result == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    if (stride < context->stream.width() || size < sizeof result->frame) return LUMAQC_ERROR_INVALID;
    if (context->stream.inFlight() != 0) return LUMAQC_ERROR_AGAIN;
    const int sent = context->stream.send(luma, stride);
    if (sent != LUMAQC_OK) return sent;
    lumaqc_result r;
    return deliver(context->stream.receive(&r), r, result, size);
}

int lumaqc_send_frame(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (luma == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    if (stride < context->stream.width()) return LUMAQC_ERROR_INVALID;
    return context->stream.send(luma, stride);
}

int lumaqc_receive_result_sized(lumaqc_context* context, lumaqc_result* result, size_t size) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (result == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    if (size < sizeof result->frame) return LUMAQC_ERROR_INVALID;
    lumaqc_result r;
    return deliver(context->stream.receive(&r), r, result, size);
}

int lumaqc_frames_in_flight(const lumaqc_context* context, int* count) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (count == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    *count = static_cast<int>(context->stream.inFlight());
    return LUMAQC_OK;
}

int lumaqc_restart_flickering_period(lumaqc_context* context) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (context->stream.inFlight() != 0) return LUMAQC_ERROR_AGAIN;
    context->stream.restartFlickeringPeriod();
    return LUMAQC_OK;
}

int lumaqc_get_times_sized(const lumaqc_context* context, lumaqc_times* times, size_t size) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (times == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    if (size < sizeof times->seconds[0]) return LUMAQC_ERROR_INVALID;
    const lumaqc_times t = context->stream.times();
    std::memcpy(times, &t, callerPart<lumaqc_times>(size));
    return LUMAQC_OK;
}

int lumaqc_get_isa(const lumaqc_context* context, uint32_t* isa) {
    if (context == nullptr) return LUMAQC_ERROR_CLOSED;
    if (isa == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    *isa = isaBit(context->stream.isa());
    return LUMAQC_OK;
}

int lumaqc_close(lumaqc_context** context) {
    if (context == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    delete *context;
    *context = nullptr;
    return LUMAQC_OK;
}

const char* lumaqc_column_name(int index) {
    if (index == 0) return "frame";
    const lumaqc_value_info* info = lumaqc_value_info_at(index - 1);
    return info != nullptr ? info->name : nullptr;
}

int lumaqc_value_count(void) { return static_cast<int>(lumaqc::kValueCount); }

const lumaqc_value_info* lumaqc_value_info_at(int index) {
    if (index < 0 || static_cast<size_t>(index) >= lumaqc::kValueCount) return nullptr;
    return &lumaqc::kValueInfos[static_cast<size_t>(index)];
}

int lumaqc_get_value_sized(const lumaqc_result* result, size_t size, int index, double* value) {
    if (result == nullptr || value == nullptr) return LUMAQC_ERROR_BAD_POINTER;
    const lumaqc_value_info* info = lumaqc_value_info_at(index);
    if (info == nullptr) return LUMAQC_ERROR_INVALID;
    const char* field = reinterpret_cast<const char*>(result) + info->offset;
    if (info->kind == LUMAQC_KIND_FLAG) {
        if (info->offset + sizeof(uint8_t) > size) return LUMAQC_ERROR_INVALID;
        *value = static_cast<double>(static_cast<uint8_t>(*field));
    } else {
        if (info->offset + sizeof(double) > size) return LUMAQC_ERROR_INVALID;
        std::memcpy(value, field, sizeof(double));
    }
    return LUMAQC_OK;
}

unsigned lumaqc_version(void) { return LUMAQC_VERSION; }

const char* lumaqc_version_string(void) { return LUMAQC_VERSION_STRING; }

const char* lumaqc_error_text(int code) {
    switch (code) {
        case LUMAQC_OK: return "success";
        case LUMAQC_ERROR_NO_MEMORY: return "not enough memory for the pictures of the stream";
        case LUMAQC_ERROR_BAD_POINTER: return "a required pointer is null";
        case LUMAQC_ERROR_INVALID: return "invalid argument";
        case LUMAQC_ERROR_SIZE: return "picture size out of range (1 to 715827882 pixels, both sides positive)";
        case LUMAQC_ERROR_CLOSED: return "no open context";
        case LUMAQC_ERROR_AGAIN: return "try again after receiving a result";
        case LUMAQC_ERROR_THREADS: return "the analysis threads could not be started";
        default: return "unknown error";
    }
}

}  // extern "C"
