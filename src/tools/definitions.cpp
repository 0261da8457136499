#include "tools/definitions.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void roberts(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_ASSERT(src->h == destX->h && src->w == destX->w, kDestXMatches, "roberts");
    TOOLKIT_ASSERT(src->h == destY->h && src->w == destY->w, kDestYMatches, "roberts");
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
        for (uint64_t x = 1; x < w; ++x) {
            dx[x] = static_cast<int32_t>(above[x - 1]) - row[x];
            dy[x] = static_cast<int32_t>(above[x]) - row[x - 1];
        }
    }
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
        for (uint64_t x = 1; x < w; ++x) {
            dx[x] = static_cast<int32_t>(row[x]) - row[x - 1];
            dy[x] = static_cast<int32_t>(row[x]) - above[x];
        }
    }
}

// ---- end of gradient operators ----

// ===========================================================================
// Pixel-wise arithmetic (addSquares ... compareShifted)

// ---- end of pixel-wise arithmetic ----

// ===========================================================================
// Run counting (countSeqsH, countSeqsV, tempCountSeqsH, tempCountSeqsH2)

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
    if (src->w != dest->w || src->h != dest->h) {
        std::puts("Source and destination images do not match with their size!");
        return -1;
    }
    if (src->h < kernel->h) {
        std::puts("Source image is to small for that kernel!");
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
    if (kernel->w != kernel->h) {
        std::printf("Provided kernel is not symmetric!");
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

// ---- end of integral images ----

// ===========================================================================
// Sobel and absolute gradient

// ---- end of sobel ----

// ===========================================================================
// Type conversions

// ---- end of type conversions ----

// ===========================================================================
// Spatial activity operator (spatialAct)

// ---- end of spatialAct ----

// ===========================================================================
// Temporal activity operator (temporalAct)

// ---- end of temporalAct ----

// ===========================================================================
// Flickering block work (calculateFlickering)

// ---- end of calculateFlickering ----
