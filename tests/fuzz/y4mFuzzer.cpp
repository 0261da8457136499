// Fuzzing the Y4M reader: the input is a Y4M file, header and frames, read
// through io::openReader with --input-format y4m. The first byte of the input
// is not part of the file: it chooses where the luma goes (the reader's own
// buffer or a target buffer of exactly width x height bytes), which frames are
// asked for (all, or a start and a count) and how many frames at most are
// read (so a header of a huge picture with many short frames stays quick).
//
// Rules checked besides the sanitizers:
//  - opening either succeeds with a size of 1 .. 715827882 pixels, or fails
//    with a one-line message;
//  - every frame's plane has the stream's size, a stride of at least the
//    width, the next index in order from the start asked for, and every one
//    of its bytes can be read (AddressSanitizer sees the rest);
//  - a read error is a one-line message; a short frame comes only when a
//    count was asked for.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "io/reader.hpp"

using namespace lumaqc;

namespace {

std::string inputPath;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "y4mFuzzer: %s\n", what.c_str());
    std::abort();
}

bool oneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char path[] = "/tmp/lumaqc-fuzz-y4m-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) std::abort();
    ::close(fd);
    inputPath = path;
    std::atexit([] { std::remove(inputPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choice = data[0];
    FILE* file = std::fopen(inputPath.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    io::InputRequest request;
    request.path = inputPath;
    request.format = "y4m";
    const bool explicitFrames = (choice & 1) != 0;
    if (explicitFrames) {
        request.start = (choice >> 1) & 3;
        request.frames = (choice >> 3) & 7;
    }
    const bool intoTarget = (choice & 0x40) != 0;
    const int maxReads = (choice & 0x80) != 0 ? 64 : 4;

    std::string error;
    std::unique_ptr<io::Reader> reader = io::openReader(request, &error);
    if (!reader) {
        if (!oneLine(error)) fail("opening failed with the message [" + error + "]");
        return 0;
    }
    const io::StreamInfo& info = reader->info();
    const int64_t pixels = static_cast<int64_t>(info.width) * info.height;
    if (info.reader != "y4m" || info.width < 1 || info.height < 1 || pixels > 715827882)
        fail("opened a " + info.reader + " stream of " + std::to_string(info.width) + " x " +
             std::to_string(info.height));

    std::unique_ptr<uint8_t[]> target;
    if (intoTarget) target.reset(new uint8_t[static_cast<size_t>(pixels)]);
    int64_t expected = request.start;
    for (int read = 0; read < maxReads; ++read) {
        if (intoTarget) reader->setTarget(target.get());
        const io::ReadResult r = reader->next();
        if (r.status == io::ReadStatus::End) break;
        if (r.status == io::ReadStatus::Error) {
            if (!oneLine(r.message)) fail("a read error with the message [" + r.message + "]");
            break;
        }
        if (r.status == io::ReadStatus::ShortFrame) {
            if (!explicitFrames) fail("a short frame although every frame was asked for");
            break;
        }
        const io::Plane& p = r.luma;
        if (p.width != info.width || p.height != info.height || p.stride < p.width || p.data == nullptr)
            fail("frame " + std::to_string(r.index) + ": a plane of " + std::to_string(p.width) + " x " +
                 std::to_string(p.height) + ", stride " + std::to_string(p.stride));
        if (r.index != expected) fail("frame " + std::to_string(r.index) + " where " + std::to_string(expected) + " was due");
        if (explicitFrames && r.index >= request.start + request.frames) fail("a frame past the count asked for");
        ++expected;
        uint32_t sum = 0;
        for (int32_t y = 0; y < p.height; ++y)
            for (int32_t x = 0; x < p.width; ++x) sum += p.data[static_cast<ptrdiff_t>(y) * p.stride + x];
        // Keeps the reads.
        if (sum == 0xFFFFFFFFu) std::fputc(0, stderr);
    }
    return 0;
}
