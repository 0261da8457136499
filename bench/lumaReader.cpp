// The floor of any analyser of raw clips: seeks to every frame, reads its
// luma plane and sums it with AVX2 (the portable loop elsewhere). Its
// processor time per frame is the yardstick of bench/compare.sh.
//   lumaReader CLIP WIDTH HEIGHT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
__attribute__((target("avx2"))) static uint64_t sumPlane(const uint8_t* p, size_t n) {
    __m256i total = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        total = _mm256_add_epi64(total, _mm256_sad_epu8(v, _mm256_setzero_si256()));
    }
    uint64_t lanes[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), total);
    uint64_t sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; i < n; ++i) sum += p[i];
    return sum;
}
#else
static uint64_t sumPlane(const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}
#endif

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIP WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const size_t w = std::strtoul(argv[2], nullptr, 10), h = std::strtoul(argv[3], nullptr, 10);
    FILE* clip = std::fopen(argv[1], "rb");
    if (clip == nullptr || w == 0 || h == 0) return 1;
    const size_t luma = w * h;
    const long frameBytes = static_cast<long>(luma * 3 / 2);
    std::vector<uint8_t> plane(luma);
    uint64_t total = 0;
    for (long i = 0;; ++i) {
        if (std::fseek(clip, i * frameBytes, SEEK_SET) != 0) break;
        if (std::fread(plane.data(), 1, luma, clip) != luma) break;
        total += sumPlane(plane.data(), luma);
    }
    std::fclose(clip);
    std::printf("%llu\n", static_cast<unsigned long long>(total));
    return 0;
}
