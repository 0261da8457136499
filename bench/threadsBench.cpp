// Frame-parallel analysis through the library: for 1, 2 and all threads,
// reads a raw 4:2:0 clip frame by frame into the context's buffers and
// measures wall-clock and processor time per frame, and the speed-up over one
// thread measured in the same invocation.
// Both the one-pass analysis and the per-indicator path are measured.
//   threadsBench CLIP WIDTH HEIGHT FRAMES [REPEATS]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "lumaqc/lumaqc.h"

namespace {

struct Figures {
    double wallMs;
    double cpuMs;
};

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One pass over the clip; returns milliseconds per frame.
Figures runOnce(FILE* clip, int w, int h, int frames, int threads, int analysisPath = LUMAQC_PATH_ONE_PASS) {
    lumaqc_settings s;
    lumaqc_default_settings(&s);
    s.threads = threads > 1 ? threads : 0;
    s.analysis_path = analysisPath;
    lumaqc_context* ctx = nullptr;
    if (lumaqc_open(&ctx, w, h, &s) != LUMAQC_OK) std::exit(1);
    const size_t luma = static_cast<size_t>(w) * h;
    const long frameBytes = static_cast<long>(luma * 3 / 2);
    lumaqc_result r;
    double checksum = 0.0;
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = processCpuSeconds();
    for (int i = 0; i < frames; ++i) {
        uint8_t* buffer = nullptr;
        while (lumaqc_frame_buffer(ctx, &buffer) == LUMAQC_ERROR_AGAIN) {
            lumaqc_receive_result(ctx, &r);
            checksum += r.blur;
        }
        std::fseek(clip, static_cast<long>(i) * frameBytes, SEEK_SET);
        if (std::fread(buffer, 1, luma, clip) != luma) std::exit(1);
        lumaqc_send_frame(ctx, buffer, w);
    }
    while (lumaqc_receive_result(ctx, &r) == LUMAQC_OK) checksum += r.blur;
    const double cpu1 = processCpuSeconds();
    const auto wall1 = std::chrono::steady_clock::now();
    lumaqc_close(&ctx);
    if (checksum == -1.0) std::puts("");  // keeps the results alive
    const double wall = std::chrono::duration<double>(wall1 - wall0).count();
    return {wall * 1000.0 / frames, (cpu1 - cpu0) * 1000.0 / frames};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s CLIP WIDTH HEIGHT FRAMES [REPEATS]\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), frames = std::atoi(argv[4]);
    const int repeats = argc > 5 ? std::atoi(argv[5]) : 3;
    FILE* clip = std::fopen(argv[1], "rb");
    if (clip == nullptr) return 1;
    const int all = static_cast<int>(std::thread::hardware_concurrency());
    std::vector<int> counts = {1, 2};
    if (all > 2) counts.push_back(all);
    // The one-pass analysis and the per-indicator path it replaced (chosen
    // when a context opens, by its settings).
    const char* paths[] = {"fused", "per-indicator"};
    const int pathSettings[] = {LUMAQC_PATH_ONE_PASS, LUMAQC_PATH_PER_INDICATOR};
    runOnce(clip, w, h, std::min(frames, 4), 1);  // warms the file cache
    // Rounds alternate the paths and thread counts, so that a slow moment of
    // the machine does not favour one of them; the best and the median round
    // of each are reported.
    std::vector<std::vector<Figures>> rounds(2 * counts.size());
    for (int round = 0; round < repeats; ++round)
        for (int path = 0; path < 2; ++path) {
            for (size_t k = 0; k < counts.size(); ++k)
                rounds[path * counts.size() + k].push_back(runOnce(clip, w, h, frames, counts[k], pathSettings[path]));
        }
    std::fclose(clip);
    auto pick = [](std::vector<Figures> v, bool median, bool wall) {
        std::vector<double> x;
        for (const Figures& f : v) x.push_back(wall ? f.wallMs : f.cpuMs);
        std::sort(x.begin(), x.end());
        return median ? x[x.size() / 2] : x[0];
    };
    for (int path = 0; path < 2; ++path) {
        const std::vector<Figures>& one = rounds[path * counts.size()];
        for (size_t k = 0; k < counts.size(); ++k) {
            const std::vector<Figures>& f = rounds[path * counts.size() + k];
            std::printf(
                "%s %dx%d threads=%d wall_ms_per_frame=%.3f (median %.3f) cpu_ms_per_frame=%.3f (median %.3f) "
                "speedup=%.2f (median %.2f)\n",
                paths[path], w, h, counts[k], pick(f, false, true), pick(f, true, true), pick(f, false, false),
                pick(f, true, false), pick(one, false, true) / pick(f, false, true),
                pick(one, true, true) / pick(f, true, true));
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kib=%ld\n", usage.ru_maxrss);
    return 0;
}
