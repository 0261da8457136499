#include "indicators/indicators.hpp"
#include "reference/reference.hpp"

namespace reference {

// Rows `top` and `bottom` each hold a single value (not necessarily the same
// one). The two rows are walked side by side so that a difference in either
// stops the test at once.
static int rowPairIsFlat(const uint8_t* data, uint32_t w, uint32_t top, uint32_t bottom) {
    if (w < 2) return 1;
    const uint8_t* t = data + static_cast<uint64_t>(top) * w;
    const uint8_t* b = data + static_cast<uint64_t>(bottom) * w;
    for (uint32_t x = 0; x + 1 < w; ++x) {
        if (t[x] != t[x + 1]) return 0;
        if (b[x] != b[x + 1]) return 0;
    }
    return 1;
}

double letterbox(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t halfH = h >> 1;
    double count = 0.0;
    // Pairs of rows from the outside in; the first pair with detail ends the bar.
    // With no pair at all (h < 2) this is 0 / 0, not-a-number.
    for (uint32_t i = 0; i < halfH; ++i) {
        if (!rowPairIsFlat(img->data, w, i, h - 1 - i)) break;
        count += 1.0;
    }
    return count / static_cast<double>(halfH);
}

// Column i equals column i + 1 on the top and the bottom half rows, compared
// pair by pair from the outside in; the middle row of an odd height is skipped.
static int columnMatchesNext(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i) {
    const uint32_t halfH = h >> 1;
    const uint64_t stride = w;
    for (uint32_t j = 0; j < halfH; ++j) {
        const uint8_t* top = data + j * stride + i;
        const uint8_t* bottom = data + (h - 1 - j) * stride + i;
        if (top[0] != top[1]) return 0;
        if (bottom[0] != bottom[1]) return 0;
    }
    return 1;
}

double pillarbox(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t halfW = w >> 1;
    double count = 0.0;
    // Only the left half is looked at: a bar at the right edge alone counts for nothing.
    // With no column pair at all (w < 2) this is 0 / 0, not-a-number.
    for (uint32_t i = 0; i < halfW; ++i) {
        if (!columnMatchesNext(img->data, w, h, i)) break;
        count += 1.0;
    }
    return count / static_cast<double>(halfW);
}

}  // namespace reference
