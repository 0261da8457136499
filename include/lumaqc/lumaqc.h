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
 * (one thread at a time per context). */
#ifndef LUMAQC_LUMAQC_H
#define LUMAQC_LUMAQC_H

#include <stddef.h>
#include <stdint.h>

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

/* Receives each message of the indicators, the exact text to show (newline
 * included), and the user pointer of the settings. */
typedef void (*lumaqc_message_callback)(void* user, const char* text);

typedef struct lumaqc_settings {
    double fps;                      /* frame rate, used by the freezing indicator (default 25.0) */
    uint32_t isa_mask;               /* LUMAQC_ISA_* allowed (default LUMAQC_ISA_ALL) */
    int indicators;                  /* LUMAQC_INDICATORS_* (default LUMAQC_INDICATORS_FAST) */
    int measure_time;                /* nonzero: accumulate processor time per indicator (default 0) */
    lumaqc_message_callback message; /* null: messages are dropped (default null); with threads, it may
                                        be called from the library's threads, one call at a time */
    void* message_user;
    int threads;                     /* frames analysed at once by threads of the context; 0 or 1:
                                        every frame on the caller's thread (default 0) */
} lumaqc_settings;

/* The indicators, in the order they are called on every frame; indexes of
 * lumaqc_times.seconds. */
enum lumaqc_indicator {
    LUMAQC_BLOCKINESS,
    LUMAQC_SPATIAL_ACTIVITY,
    LUMAQC_LETTERBOX,
    LUMAQC_PILLARBOX,
    LUMAQC_BLOCK_LOSS,
    LUMAQC_BLUR,
    LUMAQC_EXPOSURE,
    LUMAQC_INTERLACE,
    LUMAQC_NOISE,
    LUMAQC_SLICE,
    LUMAQC_BLACKOUT,
    LUMAQC_CONTRAST,
    LUMAQC_TEMPORAL_ACTIVITY,
    LUMAQC_FREEZING,
    LUMAQC_FLICKERING,
    LUMAQC_INDICATOR_COUNT
};

/* The values of one frame. temporal_activity, freezing and flickering keep
 * their values from the frame before when has_previous is 0 (0.0, 0 and 0.0 on
 * the first frame of a stream). block_loss is -1 below 256 x 256 pixels,
 * slice -1 below 48 rows, flickering -1 on the seven of eight comparisons that
 * do not report. */
typedef struct lumaqc_result {
    int64_t frame;        /* frames this context analysed before this one */
    uint8_t has_previous; /* 1 when the picture was compared with the one before */
    uint8_t blackout;     /* flag, 0 or 1 */
    uint8_t freezing;     /* flag, 0 or 1 */
    double blockiness;
    double spatial_activity;
    double letterbox;
    double pillarbox;
    double block_loss;
    double blur;
    double temporal_activity;
    double exposure;
    double contrast;
    double interlace;
    double noise;
    double slice;
    double flickering;
} lumaqc_result;

/* Processor seconds spent in each indicator, accumulated in single precision
 * one call at a time (only when measure_time was set). Without threads the
 * process's processor clock is read around each call; with threads, the
 * calling thread's, summed over the threads. */
typedef struct lumaqc_times {
    float seconds[LUMAQC_INDICATOR_COUNT];
} lumaqc_times;

typedef struct lumaqc_context lumaqc_context;

/* Fills settings with the defaults. Returns LUMAQC_ERROR_BAD_POINTER for null. */
LUMAQC_API int lumaqc_default_settings(lumaqc_settings* settings);

/* Opens a context for pictures of width x height pixels; *context is set on
 * success and left null otherwise. settings may be null (the defaults).
 * Errors: BAD_POINTER (context null), SIZE, INVALID (isa_mask without any
 * known bit, an unknown indicators value, threads below 0 or above 1024),
 * NO_MEMORY, THREADS. */
LUMAQC_API int lumaqc_open(lumaqc_context** context, int32_t width, int32_t height, const lumaqc_settings* settings);

/* Analyses the next frame: its luma plane starts at luma, rows are stride bytes
 * apart (stride >= width; the pixels between width and stride are not read).
 * The plane is copied in; it may be reused as soon as the call returns.
 * Errors: CLOSED (context null), BAD_POINTER (luma or result null), INVALID
 * (stride below the width), AGAIN (frames sent with lumaqc_send_frame are
 * still to be received). Nothing changes in the context on an error. */
LUMAQC_API int lumaqc_analyse(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride, lumaqc_result* result);

/* The buffer of width x height bytes (stride = width) that the next frame may
 * be written into before lumaqc_analyse or lumaqc_send_frame is called with
 * it, which then copies nothing. Errors: CLOSED, BAD_POINTER, AGAIN (the
 * buffer is still in use by frames in flight: receive first). */
LUMAQC_API int lumaqc_frame_buffer(lumaqc_context* context, uint8_t** buffer);

/* The pipelined form of lumaqc_analyse, for contexts with threads: send
 * queues the next frame (copied in, or taken in place from lumaqc_frame_buffer)
 * and returns at once; receive returns the result of the oldest frame sent and
 * not yet received, waiting for it. Results come in frame order and equal
 * those of lumaqc_analyse bit for bit, whatever the number of threads.
 * send: CLOSED, BAD_POINTER, INVALID (stride), AGAIN (threads + 1 frames in
 * flight; receive first). receive: CLOSED, BAD_POINTER, AGAIN (nothing sent). */
LUMAQC_API int lumaqc_send_frame(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride);
LUMAQC_API int lumaqc_receive_result(lumaqc_context* context, lumaqc_result* result);

/* Frames sent and not yet received. Errors: CLOSED, BAD_POINTER. */
LUMAQC_API int lumaqc_frames_in_flight(const lumaqc_context* context, int* count);

/* Starts a new flickering reporting period, as after a report: every block
 * still, every count 0. A piece of a longer run that begins on one of that
 * run's period boundaries calls it after its warm-up frames. Errors: CLOSED,
 * AGAIN (frames in flight). */
LUMAQC_API int lumaqc_restart_flickering_period(lumaqc_context* context);

/* The accumulated processor time per indicator (all zero unless measure_time
 * was set). Errors: CLOSED, BAD_POINTER. */
LUMAQC_API int lumaqc_get_times(const lumaqc_context* context, lumaqc_times* times);

/* The instruction-set variant the context runs (one LUMAQC_ISA_* bit).
 * Errors: CLOSED, BAD_POINTER. */
LUMAQC_API int lumaqc_get_isa(const lumaqc_context* context, uint32_t* isa);

/* Releases the context and sets *context to null, so that later calls on the
 * same variable return LUMAQC_ERROR_CLOSED. Closing a null context is a no-op
 * (LUMAQC_OK). Errors: BAD_POINTER (context itself null). */
LUMAQC_API int lumaqc_close(lumaqc_context** context);

/* The result columns: "frame" first, then the fifteen indicators in the order
 * of the console table. Stable names for every output format. */
#define LUMAQC_COLUMN_COUNT 16
/* Name of column index (0 .. LUMAQC_COLUMN_COUNT - 1), or null. */
LUMAQC_API const char* lumaqc_column_name(int index);

/* Short text of an error code ("invalid argument", ...). */
LUMAQC_API const char* lumaqc_error_text(int code);

#ifdef __cplusplus
}
#endif

#endif /* LUMAQC_LUMAQC_H */
