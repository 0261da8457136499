#include "tools/definitions.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumaqc {

// Messages of a failed size check name this file, as the toolkit always has.
static const char* const kToolkitSourceName = "../tools/definitions.c";

void toolkitAssertFail(const char* condition, unsigned line, const char* function) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s:%u: %s: Assertion `%s' failed.\n", program_invocation_short_name,
                 kToolkitSourceName, line, function, condition);
    std::fflush(stderr);
    std::abort();
}

// ===========================================================================
// Constructors and release

Image makeImage(uint64_t w, uint64_t h, uint8_t* data) { return Image{w, h, data}; }
Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data) { return Image32{w, h, data}; }
ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data) { return ImageDouble{w, h, data}; }

// Sizes whose byte count does not fit size_t cannot be allocated: they leave
// data null, like any other failed allocation.
static size_t byteCount(uint64_t w, uint64_t h, size_t elementSize) {
    if (w != 0 && h > SIZE_MAX / w) return SIZE_MAX;
    uint64_t n = w * h;
    if (n > SIZE_MAX / elementSize) return SIZE_MAX;
    return static_cast<size_t>(n) * elementSize;
}

static void* allocPixels(uint64_t w, uint64_t h, size_t elementSize) {
    size_t bytes = byteCount(w, h, elementSize);
    if (bytes == SIZE_MAX) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

static void* callocPixels(uint64_t w, uint64_t h, size_t elementSize) {
    size_t bytes = byteCount(w, h, elementSize);
    if (bytes == SIZE_MAX) return nullptr;
    return std::calloc(bytes == 0 ? 1 : bytes / elementSize, bytes == 0 ? 1 : elementSize);
}

Image allocImage(uint64_t w, uint64_t h) { return Image{w, h, static_cast<uint8_t*>(allocPixels(w, h, 1))}; }
Image32 allocImage32(uint64_t w, uint64_t h) {
    return Image32{w, h, static_cast<int32_t*>(allocPixels(w, h, sizeof(int32_t)))};
}
ImageDouble allocImageDouble(uint64_t w, uint64_t h) {
    return ImageDouble{w, h, static_cast<double*>(allocPixels(w, h, sizeof(double)))};
}
Image callocImage(uint64_t w, uint64_t h) { return Image{w, h, static_cast<uint8_t*>(callocPixels(w, h, 1))}; }
Image32 callocImage32(uint64_t w, uint64_t h) {
    return Image32{w, h, static_cast<int32_t*>(callocPixels(w, h, sizeof(int32_t)))};
}
ImageDouble callocImageDouble(uint64_t w, uint64_t h) {
    return ImageDouble{w, h, static_cast<double*>(callocPixels(w, h, sizeof(double)))};
}

void freeImage(Image* img) { std::free(img->data); }
void freeImage32(Image32* img) { std::free(img->data); }
void freeImageDouble(ImageDouble* img) { std::free(img->data); }

// ===========================================================================
// Reductions and printing aids

uint32_t sumPixels(const Image* img) {
    const uint64_t n = img->w * img->h;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < n; ++i) sum += img->data[i];
    return sum;
}

int64_t sumPixels32(const Image32* img) {
    const uint64_t n = img->w * img->h;
    int64_t sum = 0;
    for (uint64_t i = 0; i < n; ++i) sum += img->data[i];
    return sum;
}

void blockSums(const Image* src, Image32* dest, uint64_t bw, uint64_t bh) {
    const uint32_t blockRows = static_cast<uint32_t>(dest->h);
    const uint32_t rowsPerBlock = static_cast<uint32_t>(bh);
    const uint64_t blockCols = dest->w;
    const uint8_t* p = src->data;
    const uint64_t skip = src->w - blockCols * bw;
    for (uint32_t r = 0; r < blockRows; ++r) {
        int32_t* out = dest->data + static_cast<uint64_t>(r) * blockCols;
        for (uint32_t y = 0; y < rowsPerBlock; ++y) {
            for (uint64_t c = 0; c < blockCols; ++c) {
                uint32_t acc = static_cast<uint32_t>(out[c]);
                for (uint64_t x = 0; x < bw; ++x) acc += *p++;
                out[c] = static_cast<int32_t>(acc);
            }
            p += skip;
        }
    }
}

int areEqual(const Image* a, const Image* b) {
    if (a == b) return 1;
    if (a->w != b->w || a->h != b->h) return 0;
    const uint64_t n = a->w * a->h;
    if (a->data == b->data || n == 0) return 1;
    return std::memcmp(a->data, b->data, n) == 0 ? 1 : 0;
}

int32_t sumAndSquareSum(const Image* img, int32_t* sum, int64_t* squareSum) {
    *sum = 0;
    *squareSum = 0;
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(img->w) * static_cast<uint32_t>(img->h));
    if (n <= 0) return 0;
    uint32_t s = 0;  // signed 32-bit wrap-around, computed without overflow
    int64_t q = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t p = img->data[i];
        s += p;
        q += static_cast<int64_t>(p * p);
    }
    *sum = static_cast<int32_t>(s);
    *squareSum = q;
    return *sum;
}

void printRange(const Image* img, int firstCol, int lastCol, int firstRow, int lastRow) {
    const uint8_t* p = img->data;
    for (int64_t r = firstRow; r <= lastRow; ++r) {
        for (int64_t c = firstCol; c <= lastCol; ++c) std::printf("%03i ", *p++);
        std::putchar('\n');
    }
}

void printRange32(const Image32* img, int firstCol, int lastCol, int firstRow, int lastRow) {
    const int32_t* p = img->data;
    for (int64_t r = firstRow; r <= lastRow; ++r) {
        for (int64_t c = firstCol; c <= lastCol; ++c) std::printf("%i  ", *p++);
        std::putchar('\n');
    }
}

// ===========================================================================
// Gradient operators (roberts, robertsSkip, gradient)

static const char* const kDestXMatches = "src->h == destX->h && src->w == destX->w";
static const char* const kDestYMatches = "src->h == destY->h && src->w == destY->w";

// Shared walk of roberts and gradient: row 0 and column 0 of both
// destinations are 0; every other pixel gets pair(above, row, x, dx, dy).
template <typename PixelPair>
static void rowPairWalk(const Image* src, Image32* destX, Image32* destY, PixelPair pair) {
    const uint64_t w = src->w;
    const uint32_t h = static_cast<uint32_t>(src->h);
    if (w == 0 || h == 0) return;
    for (uint64_t x = 0; x < w; ++x) destX->data[x] = destY->data[x] = 0;
    for (uint32_t y = 1; y < h; ++y) {
        const uint8_t* above = src->data + (y - 1) * w;
        const uint8_t* row = above + w;
        int32_t* dx = destX->data + y * w;
        int32_t* dy = destY->data + y * w;
        dx[0] = dy[0] = 0;
        for (uint64_t x = 1; x < w; ++x) pair(above, row, x, dx, dy);
    }
}

void roberts(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_ASSERT(src->h == destX->h && src->w == destX->w, kDestXMatches, "roberts");
    TOOLKIT_ASSERT(src->h == destY->h && src->w == destY->w, kDestYMatches, "roberts");
    rowPairWalk(src, destX, destY, [](const uint8_t* above, const uint8_t* row, uint64_t x, int32_t* dx, int32_t* dy) {
        dx[x] = static_cast<int32_t>(above[x - 1]) - row[x];
        dy[x] = static_cast<int32_t>(above[x]) - row[x - 1];
    });
}

void robertsSkip(const Image* src, Image32* destX, Image32* destY, int32_t stepX, int32_t stepY) {
    const uint64_t outW = destX->w;
    const uint32_t outH = static_cast<uint32_t>(destX->h);
    TOOLKIT_ASSERT(stepX >= 1 && stepY >= 1, "stepX >= 1 && stepY >= 1", "robertsSkip");
    TOOLKIT_ASSERT(destY->w * destY->h >= destX->w * destX->h, "destY->w * destY->h >= destX->w * destX->h",
                   "robertsSkip");
    if (outW == 0 || outH == 0) return;
    TOOLKIT_ASSERT(outW < 2 || outH < 2 ||
                       ((outW - 1) * static_cast<uint64_t>(stepX) < src->w &&
                        static_cast<uint64_t>(outH - 1) * static_cast<uint64_t>(stepY) < src->h),
                   "(destX->w - 1) * stepX < src->w && (destX->h - 1) * stepY < src->h", "robertsSkip");
    const uint64_t stride = src->w;
    for (uint64_t x = 0; x < outW; ++x) destX->data[x] = destY->data[x] = 0;
    for (uint32_t r = 1; r < outH; ++r) {
        const uint64_t y = static_cast<uint64_t>(r) * static_cast<uint64_t>(stepY);
        const uint8_t* above = src->data + (y - 1) * stride;
        const uint8_t* row = src->data + y * stride;
        int32_t* dx = destX->data + r * outW;
        int32_t* dy = destY->data + r * outW;
        dx[0] = dy[0] = 0;
        for (uint64_t X = 1; X < outW; ++X) {
            const uint64_t x = X * static_cast<uint64_t>(stepX);
            dx[X] = static_cast<int32_t>(above[x - 1]) - row[x];
            dy[X] = static_cast<int32_t>(above[x]) - row[x - 1];
        }
    }
}

void gradient(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_ASSERT(src->h == destX->h && src->w == destX->w, kDestXMatches, "gradient");
    TOOLKIT_ASSERT(src->h == destY->h && src->w == destY->w, kDestYMatches, "gradient");
    rowPairWalk(src, destX, destY, [](const uint8_t* above, const uint8_t* row, uint64_t x, int32_t* dx, int32_t* dy) {
        dx[x] = static_cast<int32_t>(row[x]) - row[x - 1];
        dy[x] = static_cast<int32_t>(row[x]) - above[x];
    });
}

// ---- end of gradient operators ----

// ===========================================================================
// Pixel-wise arithmetic (addSquares ... compareShifted)

// Element count of a two-source operator: the low 32 bits of src1's width
// and height multiplied as 32-bit signed integers (wrapping, computed
// unsigned). Zero or negative means an empty picture.
template <typename Picture>
static int32_t pixelwiseCount(const Picture* src1) {
    return static_cast<int32_t>(static_cast<uint32_t>(src1->w) * static_cast<uint32_t>(src1->h));
}

// True when the picture holds at least n elements.
template <typename Picture>
static bool pixelwiseHolds(const Picture* p, int32_t n) {
    return p->w * p->h >= static_cast<uint64_t>(n);
}

void addSquares(const Image* src1, const Image* src2, Image32* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return;
    TOOLKIT_ASSERT(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "addSquares");
    TOOLKIT_ASSERT(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "addSquares");
    const uint8_t* a = src1->data;
    const uint8_t* b = src2->data;
    int32_t* d = dest->data;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t x = a[i];
        const int32_t y = b[i];
        d[i] = x * x + y * y;  // at most 130050
    }
}

void addSquares32(const Image32* src1, const Image32* src2, Image32* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return;
    TOOLKIT_ASSERT(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "addSquares32");
    TOOLKIT_ASSERT(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "addSquares32");
    const int32_t* a = src1->data;
    const int32_t* b = src2->data;
    int32_t* d = dest->data;
    for (int32_t i = 0; i < n; ++i) {
        // Two's-complement wrap-around: square and add modulo 2^32.
        const uint32_t x = static_cast<uint32_t>(a[i]);
        const uint32_t y = static_cast<uint32_t>(b[i]);
        d[i] = static_cast<int32_t>(x * x + y * y);
    }
}

void multiply(const Image32* src1, const Image32* src2, Image32* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return;
    TOOLKIT_ASSERT(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "multiply");
    TOOLKIT_ASSERT(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "multiply");
    const int32_t* a = src1->data;
    const int32_t* b = src2->data;
    int32_t* d = dest->data;
    for (int32_t i = 0; i < n; ++i)
        d[i] = static_cast<int32_t>(static_cast<uint32_t>(a[i]) * static_cast<uint32_t>(b[i]));
}

void divide(const Image32* src1, const Image32* src2, ImageDouble* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return;
    TOOLKIT_ASSERT(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "divide");
    TOOLKIT_ASSERT(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "divide");
    const int32_t* a = src1->data;
    const int32_t* b = src2->data;
    double* d = dest->data;
    // IEEE division: x / 0 is an infinity, 0 / 0 not a number.
    for (int32_t i = 0; i < n; ++i) d[i] = static_cast<double>(a[i]) / static_cast<double>(b[i]);
}

void divideDouble(const ImageDouble* src1, const ImageDouble* src2, ImageDouble* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return;
    TOOLKIT_ASSERT(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "divideDouble");
    TOOLKIT_ASSERT(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "divideDouble");
    const double* a = src1->data;
    const double* b = src2->data;
    double* d = dest->data;
    for (int32_t i = 0; i < n; ++i) d[i] = a[i] / b[i];
}

void compareShifted(const Image* src, Image* dest, int32_t shift) {
    const uint64_t outW = dest->w;
    const uint64_t outH = dest->h;
    if (outW == 0 || outH == 0) return;
    // The lowest index read is shift itself, the highest the last destination
    // pixel's source position plus shift.
    TOOLKIT_ASSERT(shift >= 0, "shift >= 0", "compareShifted");
    TOOLKIT_ASSERT((outH - 1) * src->w + outW - 1 + static_cast<uint64_t>(shift) < src->w * src->h,
                   "(dest->h - 1) * src->w + dest->w - 1 + shift < src->w * src->h", "compareShifted");
    const uint64_t stride = src->w;
    const uint64_t offset = static_cast<uint64_t>(shift);
    for (uint64_t y = 0; y < outH; ++y) {
        const uint8_t* s = src->data + y * stride;
        const uint8_t* partner = s + offset;
        uint8_t* d = dest->data + y * outW;
        for (uint64_t x = 0; x < outW; ++x) d[x] = s[x] == partner[x] ? 1 : 0;
    }
}

// ---- end of pixel-wise arithmetic ----

// ===========================================================================
// Run counting (countSeqsH, countSeqsV, tempCountSeqsH, tempCountSeqsH2)

// a * b <= limit, without the product wrapping.
static bool runGridFits(uint64_t a, uint64_t b, uint64_t limit) { return b == 0 || a <= limit / b; }

// One more pixel above the threshold: lengthen the run and tell whether it
// has just reached minRunLength. A run that has reached it stops growing,
// which changes nothing (it counts once however long it gets) and keeps the
// 32-bit length from ever overflowing.
static bool extendRunLength(int32_t& length, int32_t minRunLength) {
    if (length >= minRunLength) return false;
    ++length;
    return length == minRunLength;
}

// Counters only ever grow by one; they wrap in 32 bits like the pixels they are.
static void bumpRunCounter(int32_t& counter) { counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u); }

int32_t countSeqsH(const Image32* src, Image32* dest, uint64_t blockWidth, uint64_t blockHeight,
                   int32_t minRunLength, double threshold) {
    TOOLKIT_ASSERT(runGridFits(dest->w, blockWidth, src->w), "dest->w * blockWidth <= src->w", "countSeqsH");
    TOOLKIT_ASSERT(runGridFits(dest->h, blockHeight, src->h), "dest->h * blockHeight <= src->h", "countSeqsH");
    TOOLKIT_ASSERT(blockHeight >= 1, "blockHeight >= 1", "countSeqsH");
    const uint64_t outW = dest->w;
    const uint64_t outH = dest->h;
    if (outH == 0) return 0;
    const uint64_t stride = src->w;
    for (uint64_t by = 0; by < outH; ++by) {
        int32_t* counts = dest->data + by * outW;
        for (uint64_t ry = 0; ry < blockHeight; ++ry) {
            const int32_t* row = src->data + (by * blockHeight + ry) * stride;
            for (uint64_t bx = 0; bx < outW; ++bx) {
                // Runs restart at every cell's left edge.
                const int32_t* cell = row + bx * blockWidth;
                int32_t length = 0;
                for (uint64_t x = 0; x < blockWidth; ++x) {
                    if (static_cast<double>(cell[x]) > threshold) {
                        if (extendRunLength(length, minRunLength)) bumpRunCounter(counts[bx]);
                    } else {
                        length = 0;
                    }
                }
            }
        }
    }
    return 0;
}

int32_t countSeqsV(const Image32* src, Image32* dest, Image32* runLengths, uint64_t blockWidth,
                   uint64_t blockHeight, int32_t minRunLength, double threshold) {
    TOOLKIT_ASSERT(runGridFits(dest->w, blockWidth, src->w), "dest->w * blockWidth <= src->w", "countSeqsV");
    TOOLKIT_ASSERT(runGridFits(dest->h, blockHeight, src->h), "dest->h * blockHeight <= src->h", "countSeqsV");
    TOOLKIT_ASSERT(blockHeight >= 1, "blockHeight >= 1", "countSeqsV");
    const uint64_t outW = dest->w;
    const uint64_t outH = dest->h;
    // Within the bound just checked, so the product below does not wrap.
    const uint64_t columns = outW * blockWidth;
    TOOLKIT_ASSERT(runLengths->w * runLengths->h >= columns, "runLengths->w * runLengths->h >= dest->w * blockWidth",
                   "countSeqsV");
    if (outH == 0) return 0;
    const uint64_t stride = src->w;
    int32_t* lengths = runLengths->data;
    for (uint64_t by = 0; by < outH; ++by) {
        int32_t* counts = dest->data + by * outW;
        for (uint64_t ry = 0; ry < blockHeight; ++ry) {
            const int32_t* row = src->data + (by * blockHeight + ry) * stride;
            for (uint64_t bx = 0; bx < outW; ++bx) {
                const uint64_t first = bx * blockWidth;
                for (uint64_t x = first; x < first + blockWidth; ++x) {
                    if (static_cast<double>(row[x]) > threshold) {
                        if (extendRunLength(lengths[x], minRunLength)) bumpRunCounter(counts[bx]);
                    } else {
                        lengths[x] = 0;
                    }
                }
            }
        }
        // A vertical run never continues into the next cell row.
        for (uint64_t x = 0; x < columns; ++x) lengths[x] = 0;
    }
    return 0;
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

// ---- end of run counting ----

// ===========================================================================
// Block statistics (calculateStdDevs, filter, calculateStdDevsDouble_ommitZeros)

// The grid (C x R blocks of bw x bh) must lie inside the picture and every
// output must hold C x R values; written so that no product can wrap.
static bool gridFits(uint64_t C, uint64_t R, uint64_t bw, uint64_t bh, uint64_t srcW, uint64_t srcH) {
    return (C == 0 || bw <= srcW / C) && (R == 0 || bh <= srcH / R);
}
static bool holdsValues(uint64_t w, uint64_t h, uint64_t C, uint64_t R) {
    if (C == 0 || R == 0) return true;
    if (w == 0 || h == 0 || R > UINT64_MAX / C) return false;
    const uint64_t needed = C * R;
    return h >= needed / w + (needed % w != 0 ? 1 : 0);
}

void calculateStdDevs(const Image* src, Image32* sums, Image32* squareSums, ImageDouble* stdDevs, uint64_t bw,
                      uint64_t bh) {
    const uint64_t C = sums->w;
    const uint64_t R = sums->h;
    TOOLKIT_ASSERT(gridFits(C, R, bw, bh, src->w, src->h), "sums->w * bw <= src->w && sums->h * bh <= src->h",
                   "calculateStdDevs");
    TOOLKIT_ASSERT(squareSums->w == C && squareSums->h == R,
                   "squareSums->w == sums->w && squareSums->h == sums->h", "calculateStdDevs");
    TOOLKIT_ASSERT(holdsValues(stdDevs->w, stdDevs->h, C, R), "stdDevs->w * stdDevs->h >= sums->w * sums->h",
                   "calculateStdDevs");
    const double n = static_cast<double>(bw * bh);
    const uint64_t stride = src->w;
    for (uint64_t by = 0; by < R; ++by) {
        int32_t* s = sums->data + by * C;
        int32_t* q = squareSums->data + by * C;
        for (uint64_t y = 0; y < bh; ++y) {
            const uint8_t* p = src->data + (by * bh + y) * stride;
            for (uint64_t bx = 0; bx < C; ++bx) {
                // 32-bit signed accumulators; the wrap of oversized blocks is
                // carried out in unsigned arithmetic.
                uint32_t sum = static_cast<uint32_t>(s[bx]);
                uint32_t squares = static_cast<uint32_t>(q[bx]);
                for (uint64_t x = 0; x < bw; ++x) {
                    const uint32_t v = *p++;
                    sum += v;
                    squares += v * v;
                }
                s[bx] = static_cast<int32_t>(sum);
                q[bx] = static_cast<int32_t>(squares);
            }
        }
        for (uint64_t bx = 0; bx < C; ++bx) {
            // S * S leaves the 32-bit range for bright 16 x 16 blocks.
            const double S = static_cast<double>(s[bx]);
            const double Q = static_cast<double>(q[bx]);
            const double variance = (Q - (S * S) / n) / (n - 1.0);
            stdDevs->data[by * C + bx] = std::sqrt(variance);
        }
    }
}

int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw,
               uint32_t bh) {
    return filter(src, dest, kernel, N, bw, bh, standardOutputSink());
}

int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw, uint32_t bh,
               const MessageSink& messages) {
    if (src->w != dest->w || src->h != dest->h) {
        messages.send("Source and destination images do not match with their size!\n");
        return -1;
    }
    if (src->h < kernel->h) {
        messages.send("Source image is to small for that kernel!\n");
        return -1;
    }
    const uint64_t half = kernel->w / 2;
    if (N <= 0) return 0;

    const uint64_t kw = kernel->w;
    const uint64_t kh = kernel->h;
    // Blocks narrower or lower than the kernel have no inner pixel.
    const uint64_t firstInner = half;
    const uint64_t rowsEnd = bh > half ? bh - half : 0;
    const uint64_t colsEnd = bw > half ? bw - half : 0;
    if (rowsEnd <= firstInner || colsEnd <= firstInner) return 0;
    // Every window read must lie in the strip's rows and the source.
    TOOLKIT_ASSERT(static_cast<uint64_t>(N) * bw <= src->w && bh <= src->h && (rowsEnd - 1 - half) + kh <= src->h,
                   "N * bw <= src->w && bh <= src->h && bh - 2 * half - 2 + kernel->h < src->h", "filter");
    const uint64_t stride = src->w;
    for (int32_t k = 0; k < N; ++k) {
        const uint64_t left = static_cast<uint64_t>(k) * bw;
        for (uint64_t r = firstInner; r < rowsEnd; ++r) {
            for (uint64_t c = firstInner; c < colsEnd; ++c) {
                const uint64_t x0 = left + c - half;
                const uint64_t y0 = r - half;
                double acc = 0.0;
                for (uint64_t i = 0; i < kh; ++i) {
                    const uint8_t* p = src->data + (y0 + i) * stride + x0;
                    const double* wgt = kernel->data + i * kw;
                    for (uint64_t j = 0; j < kw; ++j) acc += wgt[j] * static_cast<double>(p[j]);
                }
                dest->data[r * stride + left + c] = acc;
            }
        }
    }
    return 0;
}

void calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                       ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw,
                                       uint64_t bh) {
    calculateStdDevsDouble_ommitZeros(src, sums, squareSums, stdDevs, kernel, bw, bh, standardOutputSink());
}

void calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                       ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw, uint64_t bh,
                                       const MessageSink& messages) {
    if (kernel->w != kernel->h) {
        messages.send("Provided kernel is not symmetric!");
        return;
    }
    const uint64_t half = kernel->w / 2;
    const uint64_t C = sums->w;
    const uint64_t R = sums->h;
    TOOLKIT_ASSERT(gridFits(C, R, bw, bh, src->w, src->h), "sums->w * bw <= src->w && sums->h * bh <= src->h",
                   "calculateStdDevsDouble_ommitZeros");
    TOOLKIT_ASSERT(squareSums->w == C && squareSums->h == R,
                   "squareSums->w == sums->w && squareSums->h == sums->h", "calculateStdDevsDouble_ommitZeros");
    TOOLKIT_ASSERT(holdsValues(stdDevs->w, stdDevs->h, C, R), "stdDevs->w * stdDevs->h >= sums->w * sums->h",
                   "calculateStdDevsDouble_ommitZeros");
    const double n = static_cast<double>((bw - 2 * half) * (bh - 2 * half));
    const uint64_t stride = src->w;
    for (uint64_t by = 0; by < R; ++by) {
        double* s = sums->data + by * C;
        double* q = squareSums->data + by * C;
        // The border of width half around every block is left out, whatever it holds.
        for (uint64_t y = half; y + half < bh; ++y) {
            const double* row = src->data + (by * bh + y) * stride;
            for (uint64_t bx = 0; bx < C; ++bx) {
                const double* p = row + bx * bw;
                for (uint64_t c = half; c + half < bw; ++c) {
                    s[bx] += p[c];
                    q[bx] += p[c] * p[c];
                }
            }
        }
        for (uint64_t bx = 0; bx < C; ++bx) {
            const double variance = (q[bx] - (s[bx] * s[bx]) / n) / (n - 1.0);
            stdDevs->data[by * C + bx] = std::sqrt(variance);
        }
    }
}

// ---- end of block statistics ----

// ===========================================================================
// Integral images and directional sums

// Sums are kept in uint32_t and stored through an explicit conversion, so
// that the 32-bit wrap-around of large pictures is well defined.

int32_t sumH(const uint8_t* data, int32_t w, int32_t h) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(h));
    if (n <= 0) return 0;
    uint32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += data[i];
    return static_cast<int32_t>(sum);
}

int32_t sumV(const uint8_t* data, int32_t w, int32_t h) {
    if (w <= 0) return 0;
    uint32_t sum = 0;
    for (int64_t c = 0; c < w; ++c)
        for (int64_t r = 0; r < h; ++r) sum += data[c + r * w];
    return static_cast<int32_t>(sum);
}

void integrate(const Image* src, Image32* dest) {
    const uint64_t w = src->w;
    const uint64_t h = src->h;
    if (w == 0 || h == 0) return;
    const uint8_t* in = src->data;
    int32_t* out = dest->data;
    uint32_t running = 0;
    for (uint64_t x = 0; x < w; ++x) {
        running += in[x];
        out[x] = static_cast<int32_t>(running);
    }
    for (uint64_t y = 1; y < h; ++y) {
        const uint8_t* row = in + y * w;
        const int32_t* above = out + (y - 1) * w;
        int32_t* line = out + y * w;
        running = 0;
        for (uint64_t x = 0; x < w; ++x) {
            running += row[x];
            line[x] = static_cast<int32_t>(static_cast<uint32_t>(above[x]) + running);
        }
    }
}

void onlyCopy(const Image* src, Image* dest) {
    const uint64_t w = src->w;
    if (w == 0) return;
    for (uint64_t y = 0; y < src->h; ++y) std::memcpy(dest->data + y * w, src->data + y * w, w);
}

// D[i][j] from the four corners of block (i, j) in a table addressed through
// corner(y, x); the first block row and column have no corners above or left.
template <typename Corner>
static void blockSumsFromCorners(Corner corner, Image32* dest, uint64_t bw, uint64_t bh) {
    const uint64_t dw = dest->w;
    const uint64_t dh = dest->h;
    // An empty grid or block has no last row or column to read.
    if (dw == 0 || dh == 0 || bw == 0 || bh == 0) return;
    int32_t* out = dest->data;
    uint64_t yb = bh - 1;
    out[0] = static_cast<int32_t>(corner(yb, bw - 1));
    for (uint64_t j = 1; j < dw; ++j)
        out[j] = static_cast<int32_t>(corner(yb, (j + 1) * bw - 1) - corner(yb, j * bw - 1));
    for (uint64_t i = 1; i < dh; ++i) {
        const uint64_t ya = yb;
        yb += bh;
        int32_t* line = out + i * dw;
        line[0] = static_cast<int32_t>(corner(yb, bw - 1) - corner(ya, bw - 1));
        for (uint64_t j = 1; j < dw; ++j) {
            const uint64_t xr = (j + 1) * bw - 1;
            const uint64_t xl = j * bw - 1;
            line[j] = static_cast<int32_t>(corner(yb, xr) - corner(yb, xl) - corner(ya, xr) + corner(ya, xl));
        }
    }
}

void blockSumsInteg(const Image32* integral, Image32* dest, uint64_t bw, uint64_t bh) {
    const int32_t* table = integral->data;
    const uint64_t stride = integral->w;
    blockSumsFromCorners(
        [table, stride](uint64_t y, uint64_t x) { return static_cast<uint32_t>(table[y * stride + x]); }, dest,
        bw, bh);
}

void blockSumsInteg2(const Image* corners, Image32* dest, uint64_t bw, uint64_t bh) {
    // Byte corners differ by at most 510 in either direction: plain int32 arithmetic.
    const uint8_t* table = corners->data;
    const uint64_t stride = corners->w;
    blockSumsFromCorners(
        [table, stride](uint64_t y, uint64_t x) { return static_cast<int32_t>(table[y * stride + x]); }, dest, bw,
        bh);
}

// ---- end of integral images ----

// ===========================================================================
// Sobel and absolute gradient

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

double sobel(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_ASSERT(src->h == destX->h && src->w == destX->w, kDestXMatches, "sobel");
    TOOLKIT_ASSERT(src->h == destY->h && src->w == destY->w, kDestYMatches, "sobel");
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
    TOOLKIT_ASSERT(src->h == destX->h && src->w == destX->w, kDestXMatches, "sobel2");
    TOOLKIT_ASSERT(src->h == destY->h && src->w == destY->w, kDestYMatches, "sobel2");
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

void absGradient(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_ASSERT(src->h == destX->h && src->w == destX->w, kDestXMatches, "absGradient");
    TOOLKIT_ASSERT(src->h == destY->h && src->w == destY->w, kDestYMatches, "absGradient");
    rowPairWalk(src, destX, destY, [](const uint8_t* above, const uint8_t* row, uint64_t x, int32_t* dx, int32_t* dy) {
        dx[x] = std::abs(static_cast<int32_t>(row[x]) - row[x - 1]);
        dy[x] = std::abs(static_cast<int32_t>(row[x]) - above[x]);
    });
}

// ---- end of sobel ----

// ===========================================================================
// Type conversions

// Source and destination are flat arrays: only the pixel counts must agree.

void convU8toI32(const Image* src, Image32* dest) {
    TOOLKIT_ASSERT(src->w * src->h == dest->w * dest->h, "src->w * src->h == dest->w *dest->h", "convU8toI32");
    const uint64_t n = src->w * src->h;
    for (uint64_t k = 0; k < n; ++k) dest->data[k] = src->data[k];
}

void convI32toU8(const Image32* src, Image* dest) {
    TOOLKIT_ASSERT(src->w * src->h == dest->w * dest->h, "src->w * src->h == dest->w *dest->h", "convI32toU8");
    const uint64_t n = src->w * src->h;
    // The low 8 bits, no clamping: 300 becomes 44 and -1 becomes 255.
    for (uint64_t k = 0; k < n; ++k) dest->data[k] = static_cast<uint8_t>(static_cast<uint32_t>(src->data[k]));
}

void imageSqrt(const ImageDouble* src, ImageDouble* dest) {
    TOOLKIT_ASSERT(src->w * src->h == dest->w * dest->h, "src->w * src->h == dest->w *dest->h", "imageSqrt");
    const uint64_t n = src->w * src->h;
    for (uint64_t k = 0; k < n; ++k) dest->data[k] = std::sqrt(src->data[k]);
}

// ---- end of type conversions ----

// ===========================================================================
// Spatial activity operator (spatialAct)

// Every term is a whole number below 2^21 and the sum stays below 2^53 for any
// picture of fewer than 4e9 pixels, so the double sum is exact.
double spatialAct(const Image* img) {
    const uint64_t w = img->w;
    const uint64_t h = img->h;
    double energy = 0.0;
    if (w < 3 || h < 3) return std::sqrt(energy);  // no interior pixel
    for (uint64_t y = 1; y + 1 < h; ++y) {
        const uint8_t* above = img->data + (y - 1) * w;
        const uint8_t* row = above + w;
        const uint8_t* below = row + w;
        for (uint64_t x = 1; x + 1 < w; ++x) {
            const int32_t gx = (above[x + 1] + 2 * row[x + 1] + below[x + 1]) -
                               (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
            const int32_t gy = (below[x - 1] + 2 * below[x] + below[x + 1]) -
                               (above[x - 1] + 2 * above[x] + above[x + 1]);
            energy += static_cast<double>(gx * gx + gy * gy);
        }
    }
    return std::sqrt(energy);
}

// ---- end of spatialAct ----

// ===========================================================================
// Temporal activity operator (temporalAct)

double temporalAct(const Image* cur, const Image* prev) {
    const uint64_t n = cur->w * cur->h;
    if (n == 0) return 0.0;
    // Exact in 64 bits for any picture below 2^47 pixels; unsigned so that
    // even larger ones wrap instead of overflowing.
    uint64_t squareSum = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int32_t d = static_cast<int32_t>(cur->data[i]) - static_cast<int32_t>(prev->data[i]);
        squareSum += static_cast<uint64_t>(static_cast<uint32_t>(d * d));
    }
    return std::sqrt(static_cast<double>(squareSum));
}

// ---- end of temporalAct ----

// ===========================================================================
// Flickering block work (calculateFlickering)

void calculateFlickering(const Image* cur, const Image* prev, Image* counts, Image* states, ImageDouble* means,
                         int32_t blockSize, double threshold) {
    const uint32_t gw = static_cast<uint32_t>(counts->w);
    const uint32_t gh = static_cast<uint32_t>(counts->h);
    const uint32_t n = gw * gh;
    const uint64_t stride = cur->w;  // both pictures are addressed with the current width
    const int32_t s = blockSize;

    // Summed absolute differences per block; columns and rows beyond the last
    // whole block take no part.
    for (uint32_t i = 0; i < gh; ++i) {
        for (int32_t j = 0; j < s; ++j) {
            const uint64_t y = static_cast<uint64_t>(i) * static_cast<uint64_t>(s) + static_cast<uint64_t>(j);
            const uint8_t* c = cur->data + y * stride;
            const uint8_t* p = prev->data + y * stride;
            double* rowMeans = means->data + static_cast<uint64_t>(i) * gw;
            for (uint32_t k = 0; k < gw; ++k) {
                const uint64_t x0 = static_cast<uint64_t>(k) * static_cast<uint64_t>(s);
                for (int32_t l = 0; l < s; ++l) {
                    const uint64_t x = x0 + static_cast<uint64_t>(l);
                    const int32_t d = static_cast<int32_t>(c[x]) - static_cast<int32_t>(p[x]);
                    rowMeans[k] += static_cast<double>(d < 0 ? -d : d);
                }
            }
        }
    }
    if (n == 0) return;

    const double pixelsPerBlock =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(s) * static_cast<uint32_t>(s)));
    for (uint32_t b = 0; b < n; ++b) means->data[b] /= pixelsPerBlock;

    // A still block turns changing as soon as its mean difference reaches the
    // threshold; a changing block turns still only when it is identical.
    for (uint32_t b = 0; b < n; ++b) {
        const double m = means->data[b];
        if (m >= threshold && states->data[b] == 0) {
            states->data[b] = 1;
            counts->data[b] = static_cast<uint8_t>(counts->data[b] + 1u);
        } else if (m == 0.0 && states->data[b] == 1) {
            states->data[b] = 0;
            counts->data[b] = static_cast<uint8_t>(counts->data[b] + 1u);
        }
    }
}

// ---- end of calculateFlickering ----

}  // namespace lumaqc
