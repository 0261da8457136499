// Fuzzing the open path of the FFmpeg reader module: the input is the bytes of
// a container, handed to the module through an in-memory source exactly as
// the program's own source hands a file. The first byte is not part of the
// file: it chooses the name the probe sees (its extension steers the probe),
// whether the source can seek, the start frame asked for and how many frames
// are read at most (so a long stream stays quick).
//
// Rules checked besides the sanitizers:
//  - open returns a reader; its error is "" or one line;
//  - an opened stream has a size of 1 .. 715827882 pixels;
//  - every frame has the stream's size, a stride of at least the width, the
//    next index in order from the start asked for, and every byte of its plane
//    can be read (AddressSanitizer sees the rest);
//  - an error, and every warning, is one line; reading after the end or an
//    error keeps saying so.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/libavModule.h"

extern "C" const lumaqc_libav_table* lumaqc_libav_entry(void);

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "libavFuzzer: %s\n", what.c_str());
    std::abort();
}

bool oneLine(const char* text) { return text != nullptr && *text != '\0' && std::strchr(text, '\n') == nullptr; }

struct MemorySource {
    const uint8_t* data;
    int64_t size;
    int64_t at = 0;
};

int readMemory(void* opaque, uint8_t* to, int size) {
    auto* s = static_cast<MemorySource*>(opaque);
    const int64_t n = std::min<int64_t>(size, s->size - s->at);
    if (n <= 0) return 0;
    std::memcpy(to, s->data + s->at, static_cast<size_t>(n));
    s->at += n;
    return static_cast<int>(n);
}

int64_t sizeOfMemory(void* opaque) { return static_cast<MemorySource*>(opaque)->size; }
int64_t tellMemory(void* opaque) { return static_cast<MemorySource*>(opaque)->at; }

int seekMemory(void* opaque, int64_t offset) {
    auto* s = static_cast<MemorySource*>(opaque);
    if (offset < 0 || offset > s->size) return 0;
    s->at = offset;
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const lumaqc_libav_table* const table = lumaqc_libav_entry();
    if (table == nullptr || table->version != LUMAQC_LIBAV_VERSION) fail("the module's table is missing or stale");

    static const char* const kNames[] = {"input.mkv", "input.mp4", "input.ts", "input.avi",
                                         "input.nut", "input",     "-",        "input.mpg"};
    const uint8_t choice = data[0];
    MemorySource memory{data + 1, static_cast<int64_t>(size - 1)};
    const bool seekable = (choice & 8) == 0;
    lumaqc_libav_source source{&memory,   kNames[choice & 7], seekable ? 1 : 0, readMemory,
                               sizeOfMemory, tellMemory,       seekMemory};
    lumaqc_libav_request request{};
    request.start = (choice >> 4) & 3;
    request.frames = (choice & 64) != 0 ? 2 : -1;
    request.threads = 1;
    request.fps = 25.0;
    request.fps_given = (choice & 128) != 0 ? 1 : 0;
    request.seek = 1;  // a start after 0 of a seekable MP4 or Matroska input seeks
    const int64_t readAtMost = 4;

    lumaqc_libav_reader* reader = table->open(&source, &request);
    if (reader == nullptr) fail("open returned no reader");
    const char* error = table->open_error(reader);
    if (error == nullptr) fail("open_error returned null");
    if (*error != '\0') {
        if (!oneLine(error)) fail(std::string("an open error of more than one line: [") + error + "]");
        table->close(reader);
        return 0;
    }
    lumaqc_libav_info info{};
    table->info(reader, &info);
    if (info.width < 1 || info.height < 1 || static_cast<int64_t>(info.width) * info.height > 715827882)
        fail("opened a stream of " + std::to_string(info.width) + " x " + std::to_string(info.height));

    int64_t expected = request.start;
    bool ended = false;
    for (int64_t k = 0; k < readAtMost + 1; ++k) {
        lumaqc_libav_frame frame{};
        table->next(reader, &frame);
        for (size_t w = 0; w < frame.warning_count; ++w)
            if (!oneLine(frame.warnings[w])) fail("a warning of more than one line");
        if (ended && frame.status == LUMAQC_LIBAV_FRAME) fail("a frame after the end or an error");
        if (frame.status == LUMAQC_LIBAV_FRAME) {
            if (frame.width != info.width || frame.height != info.height) fail("a frame of another size");
            if (frame.stride < frame.width || frame.data == nullptr) fail("a frame with a short stride or no plane");
            if (frame.index != expected) fail("frame " + std::to_string(frame.index) + " where " +
                                              std::to_string(expected) + " was next");
            ++expected;
            unsigned sum = 0;
            for (int32_t y = 0; y < frame.height; ++y)
                for (int32_t x = 0; x < frame.width; ++x) sum += frame.data[y * frame.stride + x];
            if (sum == 0xFFFFFFFFu) std::fputc(0, stderr);  // keeps the reads
        } else if (frame.status == LUMAQC_LIBAV_ERROR) {
            if (!oneLine(frame.message)) fail("a read error of more than one line");
            ended = true;
        } else if (frame.status == LUMAQC_LIBAV_END || frame.status == LUMAQC_LIBAV_SHORT_FRAME) {
            ended = true;
        } else {
            fail("an unknown status " + std::to_string(frame.status));
        }
        if (request.frames >= 0 && expected > request.start + request.frames) fail("more frames than asked for");
    }
    table->close(reader);
    return 0;
}
