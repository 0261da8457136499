// Clips for the reader tests: the sample clip, its luma planes read straight
// from the raw file, inputs delivered through a FIFO or standard input, and
// the ffmpeg command as the independent maker and decoder of clips.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdio_ext.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "io/reader.hpp"

namespace clips {

constexpr int kW = 352, kH = 288, kFrames = 60;
constexpr size_t kLuma = size_t{kW} * kH, kFrameBytes = kLuma * 3 / 2;

inline int shell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
}

inline bool haveFfmpeg() { return shell("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0; }

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One scratch directory for the whole test program, holding the sample clip.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char tmpl[] = "/tmp/lumaqc-io-XXXXXX";
        path = ::mkdtemp(tmpl);
        shell(std::string("'") + LUMAQC_SAMPLE_BINARY + "' '" + path + "/sample.yuv' >/dev/null");
    }
    ~ScratchDir() { shell("rm -rf '" + path + "'"); }
};
inline const std::string& dir() {
    static const ScratchDir scratch;
    return scratch.path;
}
inline std::string file(const std::string& name) { return dir() + "/" + name; }

// Luma planes of the sample clip, straight from the raw file.
inline const std::vector<std::string>& sampleLuma() {
    static const std::vector<std::string> planes = [] {
        const std::string raw = readFile(file("sample.yuv"));
        std::vector<std::string> p;
        for (int i = 0; i < kFrames; ++i) p.push_back(raw.substr(i * kFrameBytes, kLuma));
        return p;
    }();
    return planes;
}

// A Y4M copy of the sample clip: luma shifted up to `depth` bits (the bits
// below filled with ones when lowOnes), chroma planes of the layout's size.
inline std::string writeY4m(const std::string& name, const std::string& colour, int depth, size_t chromaSamples,
                     bool lowOnes = false, const std::string& frameLine = "FRAME") {
    std::string out = "YUV4MPEG2 W352 H288 F30000:1001 It A1:1 C" + colour + " XYSCSS=420JPEG\n";
    for (const std::string& luma : sampleLuma()) {
        out += frameLine + "\n";
        for (unsigned char v : luma) {
            if (depth == 8) {
                out += static_cast<char>(v);
            } else {
                const unsigned s = (unsigned{v} << (depth - 8)) | (lowOnes ? (1u << (depth - 8)) - 1 : 0);
                out += static_cast<char>(s & 0xff);
                out += static_cast<char>(s >> 8);
            }
        }
        out.append(chromaSamples * (depth > 8 ? 2 : 1), '\x5a');
    }
    writeFile(file(name), out);
    return file(name);
}

constexpr size_t k420 = 2 * 176 * 144, k422 = 2 * 176 * 288, k444 = 2 * 352 * 288;

struct Collected {
    lumaqc::io::StreamInfo info;
    std::vector<std::string> planes;
    std::vector<int64_t> indexes;
    std::vector<double> pts;
    std::vector<std::string> warnings;
    lumaqc::io::ReadResult last;  // the result that ended the reading
    std::string openError;
};

// Opens and reads to the end; planes are copied out row by row.
inline Collected collect(const lumaqc::io::InputRequest& request, uint8_t* target = nullptr) {
    Collected c;
    std::unique_ptr<lumaqc::io::Reader> reader = lumaqc::io::openReader(request, &c.openError);
    if (!reader) return c;
    c.info = reader->info();
    if (target != nullptr) reader->setTarget(target);
    for (;;) {
        lumaqc::io::ReadResult r = reader->next();
        c.warnings.insert(c.warnings.end(), r.warnings.begin(), r.warnings.end());
        if (r.status != lumaqc::io::ReadStatus::Frame) {
            c.last = r;
            return c;
        }
        std::string plane;
        for (int32_t y = 0; y < r.luma.height; ++y)
            plane.append(reinterpret_cast<const char*>(r.luma.data + y * r.luma.stride), r.luma.width);
        if (target != nullptr && r.luma.data != target) plane = "plane not in the target";
        c.planes.push_back(plane);
        c.indexes.push_back(r.index);
        c.pts.push_back(r.ptsTime);
    }
}

enum class Via { File, Fifo, Stdin };

// Runs fn with a path that delivers the bytes of `source` as asked: the file
// itself, a FIFO fed by cat, or "-" with standard input fed by cat.
inline Collected through(Via via, const std::string& source, lumaqc::io::InputRequest request,
                         uint8_t* target = nullptr) {
    if (via == Via::File) {
        request.path = source;
        return collect(request, target);
    }
    if (via == Via::Fifo) {
        const std::string fifo = file("fifo");
        ::unlink(fifo.c_str());
        ::mkfifo(fifo.c_str(), 0600);
        shell("(cat '" + source + "' > '" + fifo + "' 2>/dev/null &)");
        request.path = fifo;
        Collected c = collect(request, target);
        // Unblock a writer the reader stopped listening to.
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        return c;
    }
    FILE* feed = ::popen(("cat '" + source + "'").c_str(), "r");
    const int saved = ::dup(0);
    ::dup2(::fileno(feed), 0);
    __fpurge(stdin);
    std::clearerr(stdin);
    request.path = "-";
    Collected c = collect(request, target);
    ::dup2(saved, 0);
    ::close(saved);
    __fpurge(stdin);
    std::clearerr(stdin);
    ::pclose(feed);
    return c;
}

}  // namespace clips
