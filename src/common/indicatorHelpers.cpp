#include "common/indicatorHelpers.hpp"

namespace lumaqc {

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

int checkLetterBar(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i) {
    if (w < 2) return 1;
    if (i >= h) return 0;  // a row outside the picture is no bar
    return rowPairIsFlat(data, w, i, h - 1 - i);
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

int checkPillarBar(const uint8_t* data, uint32_t w, uint32_t h, uint32_t i) {
    if ((h >> 1) == 0) return 1;
    if (static_cast<uint64_t>(i) + 1 >= w) return 0;  // no column to the right to compare with
    return columnMatchesNext(data, w, h, i);
}

int compare(const void* a, const void* b) {
    const double x = *static_cast<const double*>(a);
    const double y = *static_cast<const double*>(b);
    if (x < y) return -1;
    if (x > y) return 1;
    return 0;
}

int compare_Double_asc(const void* a, const void* b) {
    const double x = *static_cast<const double*>(a);
    const double y = *static_cast<const double*>(b);
    if (x < y) return -1;
    if (x > y) return 1;
    return 0;
}

int compareElements(const void* a, const void* b) {
    return static_cast<int>(*static_cast<const uint8_t*>(b)) - static_cast<int>(*static_cast<const uint8_t*>(a));
}

uint8_t countFrozenFrames(uint8_t blackoutFlag, double temporalActivityValue, double fps, int32_t& freezingTemp) {
    // Only an exact standstill counts; a black still picture is the blackout
    // indicator's business, not a freeze.
    const bool frozen = temporalActivityValue == 0.0 && blackoutFlag == 0;
    if (frozen) {
        freezingTemp = static_cast<int32_t>(static_cast<uint32_t>(freezingTemp) + 1u);
    } else {
        freezingTemp = 0;
    }
    // A tenth of a second of frozen video raises the flag.
    return static_cast<double>(freezingTemp) >= fps * 0.1 ? 1 : 0;
}

}  // namespace lumaqc
