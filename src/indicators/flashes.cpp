// The flash screening, frame by frame. The one pass leaves the rounded mean
// of every whole 8 x 8 block (from the block sums noise, exposure and
// blackout already form); here each block follows its run of monotonic
// change: a change against the run's direction starts a new run from the
// code before it, and the run reaches back at most one second (a slower
// change is a fade, not part of a flash). The darker and brighter ends of a
// run are compared through a table of codes, so the step per block is
// integer work: the screen luminance function is applied once per code.
#include <algorithm>
#include <cstring>

#include "common/indicatorHelpers.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"

namespace lumaqc {

void reserveFlashes(FlashState& state, uint64_t w, uint64_t h, double fps) {
    state.blocks = (w / BLOCKSIZE) * (h / BLOCKSIZE);
    state.window = lumaqc_flash_window(fps);
    state.frame = 0;
    const uint64_t planes = static_cast<uint64_t>(state.window) + 1;
    state.codes.assign(planes * state.blocks, 0);
    state.direction.assign(state.blocks, 0);
    state.runStart.assign(state.blocks, 0);
    state.flags.assign(planes, 0);
    // Luminance rises with the code, so a darker code c changes into a
    // transition from the first brighter code that does and beyond.
    for (int c = 0; c < 256; ++c) {
        int hi = c + 1;
        while (hi < 256 && !isFlashChange(screenLuminance(c), screenLuminance(hi))) ++hi;
        state.reach[c] = static_cast<uint16_t>(hi);
    }
}

void flashOfferBlocks(const int32_t* sums, uint64_t n, uint8_t* codes) {
    // A block's mean, rounded to the nearest code (halves up).
    for (uint64_t j = 0; j < n; ++j) codes[j] = static_cast<uint8_t>(static_cast<uint32_t>(sums[j] + 32) >> 6);
}

void flashBlockCodes(const Image* img, uint8_t* codes) {
    const uint64_t blockCols = img->w / BLOCKSIZE;
    forEachBlockSpan(img, [&](uint64_t by, uint64_t b0, const int32_t* sums, uint64_t n) {
        flashOfferBlocks(sums, n, codes + by * blockCols + b0);
    });
}

// Flashes in the window ending at the state's last frame: a frame whose
// brightening or darkening area rose above the limit holds a transition, and
// a transition counts when it opposes the last one counted in the window
// (one per frame; where both directions rise, the opposing one).
static double flashesInWindow(const FlashState& s) {
    const int64_t planes = s.window + 1;
    const int64_t t = s.frame;
    int count = 0;
    int last = 0;
    for (int64_t f = std::max<int64_t>(1, t - s.window + 1); f <= t; ++f) {
        const uint8_t now = s.flags[static_cast<size_t>(f % planes)];
        const uint8_t before = s.flags[static_cast<size_t>((f - 1) % planes)];
        const uint8_t rose = static_cast<uint8_t>(now & ~before);
        if ((rose & 1) != 0 && last != 1) {
            ++count;
            last = 1;
        } else if ((rose & 2) != 0 && last != -1) {
            ++count;
            last = -1;
        }
    }
    return count / 2.0;
}

FlashValues flashes(const uint8_t* codes, FlashState& s) {
    const uint64_t n = s.blocks;
    const int64_t planes = s.window + 1;
    const int64_t t = s.frame;
    auto plane = [&](int64_t frame) { return s.codes.data() + static_cast<uint64_t>(frame % planes) * n; };
    uint8_t* now = plane(t);
    if (n != 0) std::memcpy(now, codes, n);
    FlashValues v;
    uint8_t flags = 0;
    if (t > 0 && n != 0) {
        const uint8_t* before = plane(t - 1);
        const int64_t oldest = t - s.window;
        // The plane of a frame of the window without a division per block:
        // frame t - d lies d planes before frame t's, modulo the planes.
        const int64_t base = t % planes;
        const uint8_t* const codes = s.codes.data();
        uint64_t brighter = 0, darker = 0;
        for (uint64_t b = 0; b < n; ++b) {
            const uint8_t c = now[b], p = before[b];
            if (c == p) continue;
            const int8_t e = c > p ? 1 : -1;
            if (e != s.direction[b]) {
                s.direction[b] = e;
                s.runStart[b] = t - 1;
            }
            const int64_t d = t - std::max(s.runStart[b], oldest);
            const int64_t from = base >= d ? base - d : base - d + planes;
            const uint8_t a = codes[static_cast<uint64_t>(from) * n + b];
            const uint8_t lo = std::min(a, c), hi = std::max(a, c);
            if (hi >= s.reach[lo]) ++(e > 0 ? brighter : darker);
        }
        // More than a quarter of the screen: 4 x blocks in transition > blocks.
        flags = static_cast<uint8_t>((4 * brighter > n ? 1 : 0) | (4 * darker > n ? 2 : 0));
        v.area = static_cast<double>(std::max(brighter, darker)) / static_cast<double>(n);
    }
    s.flags[static_cast<size_t>(t % planes)] = flags;
    v.rate = flashesInWindow(s);
    ++s.frame;
    return v;
}

}  // namespace lumaqc
