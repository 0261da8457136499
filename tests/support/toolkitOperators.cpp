#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/toolkit.hpp"
#include "tools/derivativeWalk.hpp"
#include "tools/pixelwise.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {

static void writeToStandardOutput(void*, const char* text) { std::fputs(text, stdout); }

MessageSink standardOutputSink() { return MessageSink{writeToStandardOutput, nullptr}; }

SizeCheck addSquares(const Image* src1, const Image* src2, Image32* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return {};
    TOOLKIT_CHECK(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "addSquares");
    TOOLKIT_CHECK(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "addSquares");
    const uint8_t* a = src1->data;
    const uint8_t* b = src2->data;
    int32_t* d = dest->data;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t x = a[i];
        const int32_t y = b[i];
        d[i] = x * x + y * y;  // at most 130050
    }
    return {};
}

SizeCheck divide(const Image32* src1, const Image32* src2, ImageDouble* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return {};
    TOOLKIT_CHECK(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "divide");
    TOOLKIT_CHECK(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "divide");
    const int32_t* a = src1->data;
    const int32_t* b = src2->data;
    double* d = dest->data;
    // IEEE division: x / 0 is an infinity, 0 / 0 not a number.
    for (int32_t i = 0; i < n; ++i) d[i] = static_cast<double>(a[i]) / static_cast<double>(b[i]);
    return {};
}

int32_t tempCountSeqsH(const Image32* src, int32_t, int32_t threshold, int32_t, int32_t, int32_t minRunLength) {
    const uint64_t n = src->w * src->h;
    const uint64_t w = src->w;
    // The position is a 32-bit signed index: positions it cannot reach are
    // not scanned.
    const uint64_t end = n < static_cast<uint64_t>(INT32_MAX) ? n : static_cast<uint64_t>(INT32_MAX);
    const int32_t* p = src->data;
    int32_t count = 0;
    int32_t i = 0;
    while (static_cast<uint64_t>(i) < end) {
        if (p[i] <= threshold) {
            ++i;
            continue;
        }
        // The end search looks no further than w (the first row's length);
        // the pixel that stops it belongs to the run.
        uint64_t j = static_cast<uint64_t>(i) + 1;
        uint64_t e = 0;
        bool stopped = false;
        for (; j < w; ++j) {
            if (p[j] <= threshold) {
                e = j + 1;
                stopped = true;
                break;
            }
        }
        if (!stopped) e = j;
        if (static_cast<int64_t>(e - static_cast<uint64_t>(i)) >= minRunLength) ++count;
        i = static_cast<int32_t>(e < end ? e : end);
    }
    return count;
}

int32_t tempCountSeqsH2(const Image32* src, int32_t, int32_t threshold) {
    const uint64_t w = src->w;
    const uint64_t h = src->h;
    uint32_t count = 0;
    for (uint64_t y = 0; y < h; ++y) {
        const int32_t* row = src->data + y * w;
        bool inRun = false;  // rows are never joined
        for (uint64_t x = 0; x < w; ++x) {
            const bool above = row[x] > threshold;
            if (above && !inRun) ++count;
            inRun = above;
        }
    }
    return static_cast<int32_t>(count);
}

int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw,
               uint32_t bh) {
    return filter(src, dest, kernel, N, bw, bh, standardOutputSink());
}

SizeCheck calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                            ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw,
                                            uint64_t bh) {
    return calculateStdDevsDouble_ommitZeros(src, sums, squareSums, stdDevs, kernel, bw, bh, standardOutputSink());
}

// Sobel responses at an interior pixel: right column minus left column (gx)
// and bottom row minus top row (gy), weights 1 2 1; exact in int32.
static inline int32_t sobelX(const uint8_t* above, const uint8_t* row, const uint8_t* below, uint64_t x) {
    return (above[x + 1] + 2 * row[x + 1] + below[x + 1]) - (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
}

static inline int32_t sobelY(const uint8_t* above, const uint8_t* below, uint64_t x) {
    return (below[x - 1] + 2 * below[x] + below[x + 1]) - (above[x - 1] + 2 * above[x] + above[x + 1]);
}

// The int conversion of the toolkit's running sums: truncation towards zero,
// and the "integer indefinite" INT32_MIN of the x86 conversion for a total
// that leaves the 32-bit range, instead of undefined behaviour.
static int32_t truncateToInt32(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(v);
}

template <typename Picture>
static SizeCheck sobelSizesFit(const Image* src, const Picture* destX, const Picture* destY, const char* function) {
    TOOLKIT_CHECK(src->h == destX->h && src->w == destX->w, kDestXMatches, function);
    TOOLKIT_CHECK(src->h == destY->h && src->w == destY->w, kDestYMatches, function);
    return {};
}

double sobel(const Image* src, Image32* destX, Image32* destY) {
    if (!sobelSizesFit(src, destX, destY, "sobel").ok()) return std::nan("");
    const uint64_t w = src->w;
    const uint64_t h = src->h;
    if (w < 3 || h < 3) {
        // No interior pixel: every pixel is border (rows 0 and h-1 may be one row).
        for (uint64_t i = 0; i < w * h; ++i) destX->data[i] = destY->data[i] = 0;
        return 0.0;
    }
    for (uint64_t x = 0; x < w; ++x) destX->data[x] = destY->data[x] = 0;
    double energy = 0.0;
    for (uint64_t y = 1; y + 1 < h; ++y) {
        const uint8_t* row = src->data + y * w;
        const uint8_t* above = row - w;
        const uint8_t* below = row + w;
        int32_t* dx = destX->data + y * w;
        int32_t* dy = destY->data + y * w;
        dx[0] = dy[0] = 0;
        for (uint64_t x = 1; x + 1 < w; ++x) {
            const int32_t gx = sobelX(above, row, below, x);
            const int32_t gy = sobelY(above, below, x);
            dx[x] = gx;
            dy[x] = gy;
            energy += static_cast<double>(gy) * gy + static_cast<double>(gx) * gx;
        }
        dx[w - 1] = dy[w - 1] = 0;
    }
    int32_t* lastX = destX->data + (h - 1) * w;
    int32_t* lastY = destY->data + (h - 1) * w;
    for (uint64_t x = 0; x < w; ++x) lastX[x] = lastY[x] = 0;
    return std::sqrt(energy);
}

int32_t sobel2(const Image* src, Image* destX, Image* destY) {
    if (!sobelSizesFit(src, destX, destY, "sobel2").ok()) return -1;
    const uint64_t w = src->w;
    const uint64_t h = src->h;
    if (w < 3 || h < 3) {
        if (w != 0 && h != 0) {
            std::memset(destX->data, 0, w * h);
            std::memset(destY->data, 0, w * h);
        }
        return 0;
    }
    std::memset(destX->data, 0, w);
    std::memset(destY->data, 0, w);
    int32_t sum = 0;
    for (uint64_t y = 1; y + 1 < h; ++y) {
        const uint8_t* row = src->data + y * w;
        const uint8_t* above = row - w;
        const uint8_t* below = row + w;
        uint8_t* dx = destX->data + y * w;
        uint8_t* dy = destY->data + y * w;
        dx[0] = dy[0] = 0;
        for (uint64_t x = 1; x + 1 < w; ++x) {
            // Only the low 8 bits are kept (-4 is stored as 252), and the
            // magnitude is taken from the stored values.
            const uint8_t gx = static_cast<uint8_t>(static_cast<uint32_t>(sobelX(above, row, below, x)));
            const uint8_t gy = static_cast<uint8_t>(static_cast<uint32_t>(sobelY(above, below, x)));
            dx[x] = gx;
            dy[x] = gy;
            const double magnitude = std::sqrt(static_cast<double>(gx * gx + gy * gy));
            sum = truncateToInt32(sum + magnitude);
        }
        dx[w - 1] = dy[w - 1] = 0;
    }
    std::memset(destX->data + (h - 1) * w, 0, w);
    std::memset(destY->data + (h - 1) * w, 0, w);
    return sum;
}

SizeCheck absGradient(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_CHECK(src->h == destX->h && src->w == destX->w, kDestXMatches, "absGradient");
    TOOLKIT_CHECK(src->h == destY->h && src->w == destY->w, kDestYMatches, "absGradient");
    rowPairWalk(src, destX, destY, [](const uint8_t* above, const uint8_t* row, uint64_t x, int32_t* dx, int32_t* dy) {
        dx[x] = std::abs(static_cast<int32_t>(row[x]) - row[x - 1]);
        dy[x] = std::abs(static_cast<int32_t>(row[x]) - above[x]);
    });
    return {};
}

// Source and destination are flat arrays: only the pixel counts must agree.

SizeCheck convU8toI32(const Image* src, Image32* dest) {
    TOOLKIT_CHECK(src->w * src->h == dest->w * dest->h, "src->w * src->h == dest->w *dest->h", "convU8toI32");
    const uint64_t n = src->w * src->h;
    for (uint64_t k = 0; k < n; ++k) dest->data[k] = src->data[k];
    return {};
}

SizeCheck convI32toU8(const Image32* src, Image* dest) {
    TOOLKIT_CHECK(src->w * src->h == dest->w * dest->h, "src->w * src->h == dest->w *dest->h", "convI32toU8");
    const uint64_t n = src->w * src->h;
    // The low 8 bits, no clamping: 300 becomes 44 and -1 becomes 255.
    for (uint64_t k = 0; k < n; ++k) dest->data[k] = static_cast<uint8_t>(static_cast<uint32_t>(src->data[k]));
    return {};
}

SizeCheck imageSqrt(const ImageDouble* src, ImageDouble* dest) {
    TOOLKIT_CHECK(src->w * src->h == dest->w * dest->h, "src->w * src->h == dest->w *dest->h", "imageSqrt");
    const uint64_t n = src->w * src->h;
    for (uint64_t k = 0; k < n; ++k) dest->data[k] = std::sqrt(src->data[k]);
    return {};
}

SizeCheck minmax(const int32_t* values, uint64_t size, int32_t* min, int32_t* max) {
    TOOLKIT_CHECK(size > 0, "size > 0", "minmax");
    int32_t lo = values[0];
    int32_t hi = values[0];
    for (uint64_t i = 1; i < size; ++i) {
        const int32_t v = values[i];
        if (v < lo)
            lo = v;
        else if (v > hi)
            hi = v;
    }
    *min = lo;
    *max = hi;
    return {};
}

}  // namespace lumaqc
