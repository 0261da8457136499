// Writes a deterministic 352 x 288 YUV 4:2:0 sample clip of 60 frames:
//   0-19  a clean stepped sky over a textured background, a bright square moving across
//   20-22 black frames
//   23-29 motion again, in coarse 8 x 8 blocks (visible block grid)
//   30-39 one picture frozen for ten frames
//   40-44 motion with the two fields of each frame taken at different times (combing)
//   45-59 motion letterboxed between black bars of 36 rows
// Usage: makeSampleClip OUTPUT.yuv [WIDTH HEIGHT FRAMES]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint8_t kBlack = 16;

uint32_t noiseAt(uint32_t x, uint32_t y, uint32_t t) {
    uint32_t v = x * 73856093u ^ y * 19349663u ^ t * 83492791u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return v;
}

uint8_t scene(int x, int y, int t, int w, int h) {
    // A clean sky in steps over the top rows, texture with a little noise below.
    int v = y < h / 5 ? 170 + x / 64 : 40 + ((x * 3 + y * 2 + t * 5) % 150) + static_cast<int>(noiseAt(x, y, t) % 9) - 4;
    const int sx = (20 + 5 * t) % (w > 48 ? w - 48 : 1);
    const int sy = (30 + 3 * t) % (h > 48 ? h - 48 : 1);
    if (x >= sx && x < sx + 48 && y >= sy && y < sy + 48) v = 220 + static_cast<int>(noiseAt(x, y, t) % 5);
    if (v < 0) v = 0;
    if (v > 255) v = 255;
    return static_cast<uint8_t>(v);
}

void makeFrame(std::vector<uint8_t>& luma, int w, int h, int t) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t v;
            if (t >= 20 && t <= 22) {
                v = kBlack;
            } else if (t >= 23 && t <= 29) {
                v = scene(x / 8 * 8 + 4, y / 8 * 8 + 4, t, w, h);
            } else if (t >= 30 && t <= 39) {
                v = scene(x, y, 30, w, h);
            } else if (t >= 40 && t <= 44) {
                v = scene(x, y, (y % 2 == 0) ? t : t + 6, w, h);
            } else if (t >= 45 && (y < 36 || y >= h - 36)) {
                v = kBlack;
            } else {
                v = scene(x, y, t, w, h);
            }
            luma[static_cast<size_t>(y) * w + x] = v;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 5) {
        std::fprintf(stderr, "Usage: %s OUTPUT.yuv [WIDTH HEIGHT FRAMES]\n", argv[0]);
        return 2;
    }
    const int w = argc == 5 ? std::atoi(argv[2]) : 352;
    const int h = argc == 5 ? std::atoi(argv[3]) : 288;
    const int frames = argc == 5 ? std::atoi(argv[4]) : 60;
    if (w < 2 || h < 2 || frames < 0 || w > 16384 || h > 16384) {
        std::fprintf(stderr, "makeSampleClip: WIDTH and HEIGHT must be 2 to 16384, FRAMES not negative\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> luma(static_cast<size_t>(w) * h);
    const std::vector<uint8_t> chroma(static_cast<size_t>(w) * h, 128);
    const size_t frameBytes = static_cast<size_t>(w) * h * 3 / 2;
    for (int t = 0; t < frames; ++t) {
        makeFrame(luma, w, h, t);
        std::fwrite(luma.data(), 1, luma.size(), out);
        // Pad to the frame size the analyser steps by (w * h * 3 / 2).
        std::fwrite(chroma.data(), 1, frameBytes - luma.size(), out);
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
