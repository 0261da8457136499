/* The boundary between the input readers and the module that decodes through
 * FFmpeg's libraries (lumaqc_libav.so, loaded with dlopen only when a
 * container is read). Plain C types only: the module exports one function,
 * lumaqc_libav_entry, returning a table of function pointers whose version
 * must equal LUMAQC_LIBAV_VERSION. No exception crosses it; every text handed
 * out lives in the reader it came from until its next call of next or close. */
#ifndef LUMAQC_IO_LIBAV_MODULE_H
#define LUMAQC_IO_LIBAV_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LUMAQC_LIBAV_VERSION 4
#define LUMAQC_LIBAV_ENTRY "lumaqc_libav_entry"

/* The bytes of the input, read through the caller's source. */
typedef struct lumaqc_libav_source {
    void* opaque;
    const char* path; /* "-" = standard input */
    int seekable;
    /* Bytes read (fewer only at the end), or -errno on failure. */
    int (*read)(void* opaque, uint8_t* to, int size);
    int64_t (*size)(void* opaque);
    int64_t (*tell)(void* opaque);
    int (*seek_to)(void* opaque, int64_t offset); /* 1 on success */
} lumaqc_libav_source;

typedef struct lumaqc_libav_request {
    int64_t start;
    int64_t frames;  /* -1 = all */
    int32_t threads; /* decoder threads, 0 = the decoder's own choice */
    double fps;
    int fps_given;
    /* 1: a start after frame 0 is reached by seeking where every frame's
     * index is known exactly (see lumaqc_libav_info.cuttable); 0: by decoding
     * every frame before it. */
    int seek;
    /* 1: decide `cuttable` also where it costs a seek (Matroska's cues are
     * read on the first seek); such a reader hands out no frame. */
    int examine;
} lumaqc_libav_request;

typedef struct lumaqc_libav_info {
    int32_t width, height;
    double fps;
    int fps_known;
    int64_t expected_frames; /* the container's length in frames from the start, -1 unknown */
    const char* timecode;    /* the start timecode, "" when none */
    /* 1 when every frame's index follows from its timestamp and the
     * container's index (a seekable MP4/MOV or Matroska file at a constant
     * rate), so that a piece may start anywhere; else whole_reason says why. */
    int cuttable;
    const char* whole_reason;
} lumaqc_libav_info;

/* The values of lumaqc::io::ReadStatus. */
enum { LUMAQC_LIBAV_FRAME = 0, LUMAQC_LIBAV_END = 1, LUMAQC_LIBAV_SHORT_FRAME = 2, LUMAQC_LIBAV_ERROR = 3 };

typedef struct lumaqc_libav_frame {
    int status;
    const uint8_t* data; /* the 8-bit luma plane of frame `index` */
    ptrdiff_t stride;
    int32_t width, height;
    int64_t index;
    double pts_time;
    const char* message; /* ERROR: why */
    const char* const* warnings;
    size_t warning_count;
    const void* picture; /* the decoded picture, for scale_picture; valid as data */
} lumaqc_libav_frame;

typedef struct lumaqc_libav_reader lumaqc_libav_reader;

typedef struct lumaqc_libav_table {
    int version;
    /* Opens and probes; null only when nothing could be allocated. The
     * source must outlive the reader. */
    lumaqc_libav_reader* (*open)(const lumaqc_libav_source* source, const lumaqc_libav_request* request);
    /* "" when the reader opened, else a one-line message. */
    const char* (*open_error)(const lumaqc_libav_reader* reader);
    void (*info)(const lumaqc_libav_reader* reader, lumaqc_libav_info* info);
    void (*next)(lumaqc_libav_reader* reader, lumaqc_libav_frame* frame);
    void (*close)(lumaqc_libav_reader* reader);
    /* An 8-bit picture scaled to to_width x to_height by area averaging; 1 on success. */
    int (*scale_gray)(const uint8_t* from, ptrdiff_t from_stride, int32_t width, int32_t height, uint8_t* to,
                      ptrdiff_t to_stride, int32_t to_width, int32_t to_height);
    /* A decoded picture in colour scaled to to_width x to_height as 4:2:0
     * full-range planes (luma to_width wide, then each chroma plane
     * (to_width + 1) / 2 wide and (to_height + 1) / 2 high, packed); 0 when it
     * has no colour or cannot be scaled. */
    int (*scale_picture)(const void* picture, int32_t to_width, int32_t to_height, uint8_t* to);
    /* A JPEG of 4:2:0 planes (chroma null: neutral), in bytes the module
     * allocates (freed by free_bytes); 1 on success. */
    int (*encode_jpeg)(const uint8_t* luma, ptrdiff_t stride, const uint8_t* cb, const uint8_t* cr,
                       ptrdiff_t chroma_stride, int32_t width, int32_t height, uint8_t** bytes, size_t* size);
    void (*free_bytes)(uint8_t* bytes);
} lumaqc_libav_table;

typedef const lumaqc_libav_table* (*lumaqc_libav_entry_function)(void);

#ifdef __cplusplus
}
#endif

#endif
