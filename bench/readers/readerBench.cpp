// Reads every frame of an input through the readers and prints the processor
// time per frame (all threads of the process), e.g. for an H.264 clip against
// `ffmpeg -threads 1 -i clip.mp4 -f null -`. Usage: lumaqc_reader_bench INPUT [THREADS]
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "io/reader.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s INPUT [THREADS]\n", argv[0]);
        return 2;
    }
    lumaqc::io::InputRequest request;
    request.path = argv[1];
    if (argc > 2) request.threads = std::atoi(argv[2]);
    const clock_t start = std::clock();
    std::string error;
    std::unique_ptr<lumaqc::io::Reader> reader = lumaqc::io::openReader(request, &error);
    if (!reader) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    int64_t frames = 0;
    uint64_t checksum = 0;  // touches every frame so that nothing is skipped
    for (;;) {
        const lumaqc::io::ReadResult r = reader->next();
        if (r.status != lumaqc::io::ReadStatus::Frame) break;
        checksum += r.luma.data[(r.luma.height / 2) * r.luma.stride + r.luma.width / 2];
        ++frames;
    }
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("reader=%s frames=%lld size=%dx%d cpu_ms_per_frame=%.3f checksum=%llu\n",
                reader->info().reader.c_str(), static_cast<long long>(frames), reader->info().width,
                reader->info().height, frames > 0 ? 1000.0 * seconds / static_cast<double>(frames) : 0.0,
                static_cast<unsigned long long>(checksum));
    return 0;
}
