/* lumaqc: no-reference quality indicators of the luma plane of video frames.
 *
 * One context analyses one stream of pictures of one size, frame after frame:
 *
 *     lumaqc_settings settings;
 *     lumaqc_default_settings(&settings);
 *     lumaqc_context* ctx = NULL;
 *     if (lumaqc_open(&ctx, width, height, &settings) < 0) ...;
 *     for each frame: lumaqc_analyse(ctx, luma, stride, &result);
 *     lumaqc_close(&ctx);
 *
 * Every call returns LUMAQC_OK (0) or a negative error code. No call prints,
 * exits or aborts; messages of the indicators reach the settings' callback.
 * Contexts share no mutable state: several may run at once on several threads
 * (one thread at a time per context).
 *
 * Compatibility: a program built against version X.Y keeps working, without
 * being rebuilt, with any later X.Z library. Later minor versions only add:
 * values (new fields at the end of lumaqc_result and lumaqc_times, new
 * lumaqc_indicator numbers, new columns after the existing ones), settings
 * (new fields at the end of lumaqc_settings, whose zero or default keeps the
 * earlier behaviour), functions and fields of lumaqc_value_info. No field
 * moves, no number changes meaning. The structs the caller provides are
 * passed with their size (the *_sized functions; the inline functions of the
 * usual names pass sizeof): the library reads and writes only the part the
 * caller knows, and settings the caller does not know take their defaults.
 * Given a struct larger than it knows, a library leaves the rest untouched. */
#ifndef LUMAQC_LUMAQC_H
#define LUMAQC_LUMAQC_H

#include <stddef.h>
#include <stdint.h>

#include "lumaqc/values.h"
#include "lumaqc/version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define LUMAQC_API __attribute__((visibility("default")))
#else
#define LUMAQC_API
#endif

/* Error codes: the negated errno values of the same meaning. */
#define LUMAQC_OK 0
#define LUMAQC_ERROR_NO_MEMORY (-12)   /* -ENOMEM: the pictures of the stream cannot be allocated */
#define LUMAQC_ERROR_BAD_POINTER (-14) /* -EFAULT: a required pointer is null */
#define LUMAQC_ERROR_INVALID (-22)     /* -EINVAL: a stride below the width, an unknown setting */
#define LUMAQC_ERROR_SIZE (-34)        /* -ERANGE: a width or height that is not positive, or more
                                          than 715,827,882 pixels per picture */
#define LUMAQC_ERROR_CLOSED (-9)       /* -EBADF: the context is null (closed or never opened) */
#define LUMAQC_ERROR_AGAIN (-11)       /* -EAGAIN: send: as many frames in flight as allowed, receive one
                                          first; receive: no frame was sent */
#define LUMAQC_ERROR_THREADS (-35)     /* -EDEADLK: the analysis threads could not be started */

/* Instruction-set variants of the fast indicators, as a mask. The plain
 * variant is always allowed; of the allowed ones the processor supports, the
 * best is chosen once when the context opens. */
#define LUMAQC_ISA_GENERIC 1u
#define LUMAQC_ISA_AVX2 2u
#define LUMAQC_ISA_AVX512 4u
#define LUMAQC_ISA_ALL 7u

/* Which implementation of the indicators runs: the fast one, or the literal
 * step-by-step composition that defines the values (same results, slower). */
#define LUMAQC_INDICATORS_FAST 0
#define LUMAQC_INDICATORS_REFERENCE 1

/* How the fast indicators walk the picture: in one pass over bands of rows,
 * or each indicator on its own (for comparisons; same values). */
#define LUMAQC_PATH_ONE_PASS 0
#define LUMAQC_PATH_PER_INDICATOR 1

/* Flickering reports a value on every LUMAQC_FLICKERING_PERIOD-th call (-1.0
 * on the others) and then starts a new period: a piece of a longer run starts
 * at that run's first frame or right after such a report (see
 * lumaqc_restart_flickering_period). */
#define LUMAQC_FLICKERING_PERIOD 8

/* Receives each message of the indicators, the exact text to show (newline
 * included), and the user pointer of the settings. */
typedef void (*lumaqc_message_callback)(void* user, const char* text);

/* Groups of the values added since 1.0, for the settings' skip_added_values. */
#define LUMAQC_SKIP_ADDED_ALL 1    /* every value added since 1.0 */
#define LUMAQC_SKIP_EVENT_VALUES 2 /* brightest_block to field_order (since 1.2) */
#define LUMAQC_SKIP_LEVEL_VALUES 4 /* luma_min to above_range (since 1.3) */
#define LUMAQC_SKIP_FLASH_VALUES 8 /* flash_area, flashes_per_second (since 1.4) */

typedef struct lumaqc_settings {
    double fps;                      /* frame rate, used by the freezing indicator and the flash
                                        screening's one-second window (default 25.0) */
    uint32_t isa_mask;               /* LUMAQC_ISA_* allowed (default LUMAQC_ISA_ALL) */
    int indicators;                  /* LUMAQC_INDICATORS_* (default LUMAQC_INDICATORS_FAST) */
    int measure_time;                /* nonzero: accumulate processor time per indicator (default 0) */
    lumaqc_message_callback message; /* null: messages are dropped (default null); with threads, it may
                                        be called from the library's threads, one call at a time */
    void* message_user;
    int threads;                     /* frames analysed at once by threads of the context; 0 or 1:
                                        every frame on the caller's thread (default 0) */
    /* Since 1.1. */
    int analysis_path;               /* LUMAQC_PATH_* (default LUMAQC_PATH_ONE_PASS) */
    int64_t memory_budget;           /* bytes the pictures in flight may take: every frame in flight and
                                        the one before it hold a width x height picture, so at most
                                        max(2, memory_budget / (width x height)) pictures; fewer threads
                                        analyse frames at once when threads + 2 do not fit (same values).
                                        0: the default, LUMAQC_DEFAULT_MEMORY_BUDGET; below 0: INVALID */
    /* Since 1.2. */
    int skip_added_values;           /* LUMAQC_SKIP_* bits: values added since 1.0 that are not computed,
                                        their fields holding not-a-number, e.g. to measure their cost
                                        (default 0: none). 1 or any bit not listed there: all of them */
    /* Since 1.3. */
    int range_low;                   /* the legal range of luma codes, range_low to range_high inclusive, */
    int range_high;                  /* of below_range and above_range; range_high 0: the default,
                                        LUMAQC_RANGE_LOW to LUMAQC_RANGE_HIGH. Else 0 <= range_low <=
                                        range_high <= 255, or INVALID */
} lumaqc_settings;

/* The default legal range of luma codes: EBU R 103's -5 % to 105 % of the
 * nominal 16 to 235, in 8-bit codes. */
#define LUMAQC_RANGE_LOW 5
#define LUMAQC_RANGE_HIGH 246

/* The flash screening (flash_area, flashes_per_second), after the general
 * flash rule: screen luminance from the luma code by the BT.1886 display
 * function with LUMAQC_FLASH_PEAK cd/m2 at code 235 and black at code 16
 * (codes outside clamp); a transition is a change of at least
 * LUMAQC_FLASH_STEP cd/m2 whose darker state lies below LUMAQC_FLASH_DARK
 * cd/m2, over more than LUMAQC_FLASH_MIN_AREA of the screen; content fails
 * where more than LUMAQC_FLASH_MAX_RATE flashes (pairs of opposing
 * transitions) fall in one second. A screening of luma only, not a
 * certification: saturated red flashes are not seen. */
#define LUMAQC_FLASH_PEAK 200.0
#define LUMAQC_FLASH_STEP 20.0
#define LUMAQC_FLASH_DARK 160.0
#define LUMAQC_FLASH_MIN_AREA 0.25
#define LUMAQC_FLASH_MAX_RATE 3.0
#define LUMAQC_FLASH_WINDOW_MAX 1000

/* Frames in the flash screening's one-second window at fps: fps rounded to
 * the nearest whole number, 1 to LUMAQC_FLASH_WINDOW_MAX (1 for a rate that
 * is not a positive number). */
static inline int lumaqc_flash_window(double fps) {
    if (!(fps >= 1.5)) return 1;
    if (!(fps < LUMAQC_FLASH_WINDOW_MAX)) return LUMAQC_FLASH_WINDOW_MAX;
    return (int)(fps + 0.5);
}

/* The default memory_budget: 1 GiB of pictures in flight. */
#define LUMAQC_DEFAULT_MEMORY_BUDGET ((int64_t)1 << 30)

/* The indicators, numbered in the order they are called on every frame;
 * indexes of lumaqc_times.seconds (from the table of values.h). */
#define LUMAQC_INDICATOR_ENUM(NAME, field, KIND, indicator, ...) LUMAQC_##NAME = indicator,
#define LUMAQC_PLUS_ONE(...) +1
enum lumaqc_indicator {
    LUMAQC_VALUES(LUMAQC_INDICATOR_ENUM)
    LUMAQC_INDICATOR_COUNT = 0 LUMAQC_VALUES(LUMAQC_PLUS_ONE)
};

/* The values of one frame. temporal_activity, freezing and flickering keep
 * their values from the frame before when has_previous is 0 (0.0, 0 and 0.0 on
 * the first frame of a stream). block_loss is -1 below 256 x 256 pixels,
 * slice -1 below 48 rows, flickering -1 on the seven of eight comparisons that
 * do not report. */
#define LUMAQC_FLAG_FIELD_FLAG(field) uint8_t field;
#define LUMAQC_FLAG_FIELD_REAL(field)
#define LUMAQC_FLAG_FIELD_TRUNCATED(field)
#define LUMAQC_FLAG_FIELD(NAME, field, KIND, ...) LUMAQC_FLAG_FIELD_##KIND(field)
#define LUMAQC_DOUBLE_FIELD_FLAG(field)
#define LUMAQC_DOUBLE_FIELD_REAL(field) double field;
#define LUMAQC_DOUBLE_FIELD_TRUNCATED(field) double field;
#define LUMAQC_DOUBLE_FIELD(NAME, field, KIND, ...) LUMAQC_DOUBLE_FIELD_##KIND(field)
#define LUMAQC_ADDED_FIELD(NAME, field, KIND, ...) LUMAQC_VALUE_TYPE_##KIND field;
typedef struct lumaqc_result {
    int64_t frame;        /* frames this context analysed before this one */
    uint8_t has_previous; /* 1 when the picture was compared with the one before */
    /* The values of the table (values.h), each in its field of the same name:
     * uint8_t blackout, freezing (flags, 0 or 1); double blockiness,
     * spatial_activity, letterbox, pillarbox, block_loss, blur,
     * temporal_activity, exposure, contrast, interlace, noise, slice,
     * flickering; then the values added since 1.0 (double brightest_block,
     * block_difference, ...). */
    LUMAQC_VALUES_1_0(LUMAQC_FLAG_FIELD)
    LUMAQC_VALUES_1_0(LUMAQC_DOUBLE_FIELD)
    LUMAQC_VALUES_ADDED(LUMAQC_ADDED_FIELD)
} lumaqc_result;

/* Processor seconds spent in each indicator, accumulated in single precision
 * one call at a time (only when measure_time was set). Without threads the
 * process's processor clock is read around each call; with threads, the
 * calling thread's, summed over the threads. */
typedef struct lumaqc_times {
    float seconds[LUMAQC_INDICATOR_COUNT];
} lumaqc_times;

typedef struct lumaqc_context lumaqc_context;

/* The *_sized functions take the size of the caller's struct, the sizeof of
 * some version of it (see the compatibility note above); call them through
 * the inline functions below, which pass sizeof. Nothing is read or written
 * past that size. A size below that of the struct's first field is
 * LUMAQC_ERROR_INVALID. */

/* Fills settings with the defaults. Returns LUMAQC_ERROR_BAD_POINTER for null. */
LUMAQC_API int lumaqc_default_settings_sized(lumaqc_settings* settings, size_t size);

/* Opens a context for pictures of width x height pixels; *context is set on
 * success and left null otherwise. settings may be null (the defaults).
 * Errors: BAD_POINTER (context null), SIZE, INVALID (isa_mask without any
 * known bit, an unknown indicators or analysis_path value, threads below 0
 * or above 1024, a negative memory_budget), NO_MEMORY, THREADS. Nothing of the
 * size of a picture is allocated here: each picture when the first frame needs
 * it, the indicators' scratch with the first frame sent. */
LUMAQC_API int lumaqc_open_sized(lumaqc_context** context, int32_t width, int32_t height,
                                 const lumaqc_settings* settings, size_t size);

/* Analyses the next frame: its luma plane starts at luma, rows are stride bytes
 * apart (stride >= width; the pixels between width and stride are not read).
 * The plane is copied in; it may be reused as soon as the call returns.
 * Errors: CLOSED (context null), BAD_POINTER (luma or result null), INVALID
 * (stride below the width), AGAIN (frames sent with lumaqc_send_frame are
 * still to be received), NO_MEMORY (the picture or the scratch of the frame
 * cannot be allocated). Nothing changes in the context on an error. */
LUMAQC_API int lumaqc_analyse_sized(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride,
                                    lumaqc_result* result, size_t size);

/* The buffer of width x height bytes (stride = width) that the next frame may
 * be written into before lumaqc_analyse or lumaqc_send_frame is called with
 * it, which then copies nothing. Errors: CLOSED, BAD_POINTER, AGAIN (the
 * buffer is still in use by frames in flight: receive first), NO_MEMORY (the
 * picture, allocated on its first use, cannot be). */
LUMAQC_API int lumaqc_frame_buffer(lumaqc_context* context, uint8_t** buffer);

/* The pipelined form of lumaqc_analyse, for contexts with threads: send
 * queues the next frame (copied in, or taken in place from lumaqc_frame_buffer)
 * and returns at once; receive returns the result of the oldest frame sent and
 * not yet received, waiting for it. Results come in frame order and equal
 * those of lumaqc_analyse bit for bit, whatever the number of threads.
 * send: CLOSED, BAD_POINTER, INVALID (stride), AGAIN (threads + 1 frames in
 * flight, fewer when the memory budget holds fewer pictures; receive first),
 * NO_MEMORY (the picture or the scratch of the frame cannot be allocated). receive: CLOSED, BAD_POINTER, AGAIN (nothing sent). */
LUMAQC_API int lumaqc_send_frame(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride);
LUMAQC_API int lumaqc_receive_result_sized(lumaqc_context* context, lumaqc_result* result, size_t size);

/* Frames sent and not yet received. Errors: CLOSED, BAD_POINTER. */
LUMAQC_API int lumaqc_frames_in_flight(const lumaqc_context* context, int* count);

/* Starts a new flickering reporting period, as after a report: every block
 * still, every count 0. A piece of a longer run that begins on one of that
 * run's period boundaries calls it after its warm-up frames. Errors: CLOSED,
 * AGAIN (frames in flight). */
LUMAQC_API int lumaqc_restart_flickering_period(lumaqc_context* context);

/* The accumulated processor time per indicator (all zero unless measure_time
 * was set). Errors: CLOSED, BAD_POINTER. */
LUMAQC_API int lumaqc_get_times_sized(const lumaqc_context* context, lumaqc_times* times, size_t size);

/* The instruction-set variant the context runs (one LUMAQC_ISA_* bit).
 * Errors: CLOSED, BAD_POINTER. */
LUMAQC_API int lumaqc_get_isa(const lumaqc_context* context, uint32_t* isa);

/* Releases the context and sets *context to null, so that later calls on the
 * same variable return LUMAQC_ERROR_CLOSED. Closing a null context is a no-op
 * (LUMAQC_OK). Errors: BAD_POINTER (context itself null). */
LUMAQC_API int lumaqc_close(lumaqc_context** context);

/* The result columns: "frame" first, then the values in the order of the
 * console table. Stable names for every output format. */
#define LUMAQC_COLUMN_COUNT (1 + LUMAQC_INDICATOR_COUNT)
/* Name of column index (0 .. the library's column count - 1), or null. */
LUMAQC_API const char* lumaqc_column_name(int index);

/* Value kinds, rules for "not computed" and pooling of lumaqc_value_info. */
#define LUMAQC_KIND_REAL 0      /* a double */
#define LUMAQC_KIND_FLAG 1      /* a uint8_t, 0 or 1 */
#define LUMAQC_KIND_TRUNCATED 2 /* a double, shown truncated towards zero to a 32-bit integer; not-a-number
                                   and values outside that range show as -2147483648 */
#define LUMAQC_NOT_COMPUTED_NEVER 0
#define LUMAQC_NOT_COMPUTED_FIRST_FRAME 1              /* has_previous is 0 */
#define LUMAQC_NOT_COMPUTED_FIRST_FRAME_OR_MINUS_ONE 2 /* has_previous is 0, or the value is -1 */
#define LUMAQC_NOT_COMPUTED_BELOW_SIZE 3               /* width below min_width or height below min_height */
#define LUMAQC_OUTPUT_ROWS 1u    /* the console rows and the log */
#define LUMAQC_OUTPUT_TIMING 2u  /* the command line's timing report */
#define LUMAQC_OUTPUT_REPORTS 4u /* JSON, CSV, HTML, Python and the column API */
#define LUMAQC_OUTPUTS_ALL 7u
#define LUMAQC_OUTPUTS_REPORTS 4u
#define LUMAQC_NOTHING_MEASURED_NEVER 0
#define LUMAQC_NOTHING_MEASURED_ZERO 1 /* a value of exactly 0: the indicator found nothing to measure (blur
                                          without an edge width, noise where the typical block is flat) */
#define LUMAQC_POOLING_NONE 0
#define LUMAQC_POOLING_STATISTICS 1 /* statistics over the frames with a value; flags count as 0 and 1 */

/* One per-frame value, as the table of values.h describes it. Later versions
 * only append fields. */
typedef struct lumaqc_value_info {
    const char* name;           /* machine name, also the field's: "blur", "temporal_activity", ... */
    int kind;                   /* LUMAQC_KIND_* */
    size_t offset;              /* of the value in lumaqc_result */
    int indicator;              /* its lumaqc_indicator: index in lumaqc_times.seconds */
    const char* console_header; /* header texts, separators included (the line's end is not) */
    const char* log_header;
    const char* console_format; /* printf formats of the value (a double; an int for FLAG and TRUNCATED), */
    const char* log_format;     /* separators included (the line's end is not) */
    const char* timing_format;  /* its part of the command line's timing report: label and printf format
                                   of the milliseconds per frame (a double), separators included (the
                                   report's last line end is not) */
    int timing_position;        /* its place in that report */
    int not_computed;           /* LUMAQC_NOT_COMPUTED_* */
    int32_t min_width;          /* sizes of LUMAQC_NOT_COMPUTED_BELOW_SIZE */
    int32_t min_height;
    int pooling;                /* LUMAQC_POOLING_* */
    /* Since 1.2. */
    unsigned outputs;           /* LUMAQC_OUTPUT_* bits: where the value is shown. The values added since 1.0
                                   show in the reports only; their console, log and timing texts are empty */
    int nothing_measured;       /* LUMAQC_NOTHING_MEASURED_*: such frames are left out of the pooled
                                   statistics (and counted as left out), their values stay as they are */
} lumaqc_value_info;

/* Number of values this library computes (LUMAQC_INDICATOR_COUNT of its
 * header; a program built against an older header sees a larger count). */
LUMAQC_API int lumaqc_value_count(void);

/* The value of index 0 .. lumaqc_value_count() - 1, in column order (value
 * index i is column i + 1), or null. The pointer stays valid for the life of
 * the process. */
LUMAQC_API const lumaqc_value_info* lumaqc_value_info_at(int index);

/* The value of that index in result (size: the caller's sizeof), flags and
 * truncated values as their doubles. Errors: BAD_POINTER, INVALID (an index
 * out of range, or a value that lies beyond size). */
LUMAQC_API int lumaqc_get_value_sized(const lumaqc_result* result, size_t size, int index, double* value);

/* The library's version: LUMAQC_VERSION and LUMAQC_VERSION_STRING of the
 * header it was built with (a program may run with a later one). */
LUMAQC_API unsigned lumaqc_version(void);
LUMAQC_API const char* lumaqc_version_string(void);

/* Short text of an error code ("invalid argument", ...). */
LUMAQC_API const char* lumaqc_error_text(int code);

/* The usual names: the *_sized functions with the caller's sizeof. */
#ifndef LUMAQC_NO_INLINE_NAMES
static inline int lumaqc_default_settings(lumaqc_settings* settings) {
    return lumaqc_default_settings_sized(settings, sizeof *settings);
}
static inline int lumaqc_open(lumaqc_context** context, int32_t width, int32_t height,
                              const lumaqc_settings* settings) {
    return lumaqc_open_sized(context, width, height, settings, sizeof *settings);
}
static inline int lumaqc_analyse(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride,
                                 lumaqc_result* result) {
    return lumaqc_analyse_sized(context, luma, stride, result, sizeof *result);
}
static inline int lumaqc_receive_result(lumaqc_context* context, lumaqc_result* result) {
    return lumaqc_receive_result_sized(context, result, sizeof *result);
}
static inline int lumaqc_get_times(const lumaqc_context* context, lumaqc_times* times) {
    return lumaqc_get_times_sized(context, times, sizeof *times);
}
static inline int lumaqc_get_value(const lumaqc_result* result, int index, double* value) {
    return lumaqc_get_value_sized(result, sizeof *result, index, value);
}
#endif

#ifdef __cplusplus
}
#endif

#endif /* LUMAQC_LUMAQC_H */
