#include "tools/blockStatistics.hpp"

#include <cmath>

#include "tools/sizeChecks.hpp"

namespace lumaqc {

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

// The size checks both deviation operators make, named after the caller.
template <typename Source, typename Sums>
static SizeCheck statisticsFit(const Source* src, const Sums* sums, const Sums* squareSums, const ImageDouble* stdDevs,
                               uint64_t bw, uint64_t bh, const char* function) {
    const uint64_t C = sums->w;
    const uint64_t R = sums->h;
    TOOLKIT_CHECK(gridFits(C, R, bw, bh, src->w, src->h), "sums->w * bw <= src->w && sums->h * bh <= src->h",
                  function);
    TOOLKIT_CHECK(squareSums->w == C && squareSums->h == R, "squareSums->w == sums->w && squareSums->h == sums->h",
                  function);
    TOOLKIT_CHECK(holdsValues(stdDevs->w, stdDevs->h, C, R), "stdDevs->w * stdDevs->h >= sums->w * sums->h",
                  function);
    return {};
}

SizeCheck calculateStdDevs(const Image* src, Image32* sums, Image32* squareSums, ImageDouble* stdDevs, uint64_t bw,
                           uint64_t bh) {
    const uint64_t C = sums->w;
    const uint64_t R = sums->h;
    const SizeCheck fits = statisticsFit(src, sums, squareSums, stdDevs, bw, bh, "calculateStdDevs");
    if (!fits.ok()) return fits;
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
    return {};
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
    if (!(static_cast<uint64_t>(N) * bw <= src->w && bh <= src->h && (rowsEnd - 1 - half) + kh <= src->h))
        return -1;
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

SizeCheck calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                            ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw, uint64_t bh,
                                            const MessageSink& messages) {
    if (kernel->w != kernel->h) {
        messages.send("Provided kernel is not symmetric!");
        return SizeCheck{"kernel->w == kernel->h", "calculateStdDevsDouble_ommitZeros"};
    }
    const uint64_t half = kernel->w / 2;
    const uint64_t C = sums->w;
    const uint64_t R = sums->h;
    const SizeCheck fits = statisticsFit(src, sums, squareSums, stdDevs, bw, bh, "calculateStdDevsDouble_ommitZeros");
    if (!fits.ok()) return fits;
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
    return {};
}

}  // namespace lumaqc
