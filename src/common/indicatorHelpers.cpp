#include "common/indicatorHelpers.hpp"

#include <cmath>
#include <cstdlib>

#include "common/constants.hpp"

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

bool isBarLine(uint64_t n, uint64_t sum, uint64_t squareSum) {
    if (n == 0) return false;
    // mean <= limit and n * squareSum - sum^2 <= (deviation * n)^2, in exact
    // integers: n is below 2^32 and sums below 2^48, so the products fit 128 bits.
    using Wide = unsigned __int128;
    if (sum > static_cast<uint64_t>(BAR_LIMIT) * n) return false;
    const Wide spread = static_cast<Wide>(n) * squareSum - static_cast<Wide>(sum) * sum;
    const Wide allowed = static_cast<Wide>(BAR_DEVIATION * n) * (BAR_DEVIATION * n);
    return spread <= allowed;
}

bool isCombedPixel(int u, int a, int b, int c, int d) {
    const int above = a - b;
    const int below = c - b;
    const int apart = std::abs(above) < std::abs(below) ? std::abs(above) : std::abs(below);
    const int own = std::abs(u - b) > std::abs(d - b) ? std::abs(u - b) : std::abs(d - b);
    const bool sameSide = (above > 0 && below > 0) || (above < 0 && below < 0);
    return sameSide && apart > COMB_DIFFERENCE && 2 * own < apart;
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

double screenLuminance(int code) {
    const int clamped = code < FLASH_BLACK_CODE ? FLASH_BLACK_CODE : (code > FLASH_PEAK_CODE ? FLASH_PEAK_CODE : code);
    const double v = static_cast<double>(clamped - FLASH_BLACK_CODE) / (FLASH_PEAK_CODE - FLASH_BLACK_CODE);
    return LUMAQC_FLASH_PEAK * std::pow(v, FLASH_GAMMA);
}

bool isFlashChange(double a, double b) {
    const double darker = a < b ? a : b;
    const double brighter = a < b ? b : a;
    return brighter - darker >= LUMAQC_FLASH_STEP && darker < LUMAQC_FLASH_DARK;
}

}  // namespace lumaqc
