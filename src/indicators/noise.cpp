#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "indicators/bands.hpp"
#include "indicators/indicators.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif
#include "tools/scratch.hpp"

namespace lumaqc {

// How the estimate is computed without full-size scratch pictures.
//
// The one pass over the whole picture takes the integer sum and square sum of
// every 8 x 8 block, one block row at a time, and turns them into the block's
// deviation with the same double operations as the block-statistics operator.
// Of a deviation d (finite and >= 0: 64 * Q >= S * S, and both S * S / 64 and
// the difference are exact) only its floor and its rounding half away from
// zero are ever used, so those two small integers are kept per block.
//
// The gathered blocks (at most 1000) are stored transposed, pixel (x, y) of
// block k at container[(8y + x) * MAX_CONTAINER_WIDTH + k], so that the
// smoothing, the residual and the inner sums run with the block number as
// the innermost index. Every block still sees the same double operations in
// the same order: the 3 x 3 window row by row from 0.0, the residual, and the
// inner sums row by row, column by column.

namespace {

constexpr int kBlockPixels = BLOCKSIZE * BLOCKSIZE;

// Sums and square sums of the blocks first ... C - 1 of one block row whose
// top row starts at top, column by column. Scratch: colSum and colSquares
// (8C each).
static LUMAQC_ALWAYS_INLINE void blockRowSumsBody(const uint8_t* top, uint64_t stride, uint32_t first, uint32_t C,
                                                  uint16_t* __restrict colSum, uint32_t* __restrict colSquares,
                                                  int32_t* __restrict sums, int32_t* __restrict squares) {
    const uint64_t n = static_cast<uint64_t>(C) * BLOCKSIZE;
    const uint8_t* r0 = top;
    const uint8_t* r1 = r0 + stride;
    const uint8_t* r2 = r1 + stride;
    const uint8_t* r3 = r2 + stride;
    const uint8_t* r4 = r3 + stride;
    const uint8_t* r5 = r4 + stride;
    const uint8_t* r6 = r5 + stride;
    const uint8_t* r7 = r6 + stride;
    for (uint64_t x = static_cast<uint64_t>(first) * BLOCKSIZE; x < n; ++x) {
        const uint32_t p0 = r0[x], p1 = r1[x], p2 = r2[x], p3 = r3[x];
        const uint32_t p4 = r4[x], p5 = r5[x], p6 = r6[x], p7 = r7[x];
        colSum[x] = static_cast<uint16_t>(p0 + p1 + p2 + p3 + p4 + p5 + p6 + p7);
        colSquares[x] = p0 * p0 + p1 * p1 + p2 * p2 + p3 * p3 + p4 * p4 + p5 * p5 + p6 * p6 + p7 * p7;
    }
    for (uint32_t bx = first; bx < C; ++bx) {
        const uint16_t* s = colSum + static_cast<uint64_t>(bx) * BLOCKSIZE;
        const uint32_t* q = colSquares + static_cast<uint64_t>(bx) * BLOCKSIZE;
        sums[bx] = static_cast<int32_t>(s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6] + s[7]);
        squares[bx] = static_cast<int32_t>(q[0] + q[1] + q[2] + q[3] + q[4] + q[5] + q[6] + q[7]);
    }
}

// Floor and rounding of the deviations of the C blocks whose sums and square
// sums are given. Scratch: deviation (C).
static LUMAQC_ALWAYS_INLINE void blockDeviationsBody(uint32_t C, const int32_t* __restrict sums,
                                                     const int32_t* __restrict squares, double* __restrict deviation,
                                                     uint8_t* __restrict floorDev, uint8_t* __restrict roundDev) {
    for (uint32_t bx = 0; bx < C; ++bx) {
        const double S = static_cast<double>(sums[bx]);
        const double Q = static_cast<double>(squares[bx]);
        deviation[bx] = (Q - (S * S) / 64.0) / 63.0;
    }
    // The square root on its own, so that the loops around it vectorise.
    for (uint32_t bx = 0; bx < C; ++bx) deviation[bx] = std::sqrt(deviation[bx]);
    for (uint32_t bx = 0; bx < C; ++bx) {
        const double d = deviation[bx];
        const int32_t whole = static_cast<int32_t>(d);           // floor, d >= 0
        const double fraction = d - static_cast<double>(whole);  // exact
        floorDev[bx] = static_cast<uint8_t>(whole);
        roundDev[bx] = static_cast<uint8_t>(whole + (fraction >= 0.5 ? 1 : 0));
    }
}
LUMAQC_VARIANTS(void, blockDeviations, blockDeviationsBody,
                (uint32_t C, const int32_t* sums, const int32_t* squares, double* deviation, uint8_t* floorDev,
                 uint8_t* roundDev),
                (C, sums, squares, deviation, floorDev, roundDev))

#ifdef LUMAQC_X86_VARIANTS
// Whole vectors of blocks: a row of a block's eight pixels is summed by one
// sum of absolute differences from zero, and its squares by one multiply-add
// of the pixels as 16-bit values (each 128-bit lane holds two blocks, the
// low and high halves of its unpacked bytes); the four partial square sums
// of a block are then added across its lane. The last C % 8 (AVX2: C % 4)
// blocks go column by column.
// GCC 12's AVX-512 headers start some results from a deliberately undefined
// vector, which its maybe-uninitialized warning takes for a fault.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
LUMAQC_TARGET_AVX512 static void blockRowSumsAvx512(const uint8_t* top, uint64_t stride, uint32_t C,
                                                    uint16_t* colSum, uint32_t* colSquares, int32_t* sums,
                                                    int32_t* squares) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i evenQuads = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
    uint32_t bx = 0;
    for (; bx + 8 <= C; bx += 8) {
        const uint8_t* p = top + static_cast<uint64_t>(bx) * BLOCKSIZE;
        __m512i s = zero, low = zero, high = zero;
        for (int r = 0; r < BLOCKSIZE; ++r, p += stride) {
            const __m512i x = _mm512_loadu_si512(p);
            s = _mm512_add_epi64(s, _mm512_sad_epu8(x, zero));
            const __m512i lo = _mm512_unpacklo_epi8(x, zero);
            const __m512i hi = _mm512_unpackhi_epi8(x, zero);
            low = _mm512_add_epi32(low, _mm512_madd_epi16(lo, lo));
            high = _mm512_add_epi32(high, _mm512_madd_epi16(hi, hi));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + bx), _mm512_cvtepi64_epi32(s));
        // Per lane [l0 h0 l1 h1] + [l2 h2 l3 h3], then the two halves added:
        // the even block's total, the odd block's, twice.
        const __m512i w = _mm512_add_epi32(_mm512_unpacklo_epi32(low, high), _mm512_unpackhi_epi32(low, high));
        const __m512i t = _mm512_add_epi32(w, _mm512_shuffle_epi32(w, _MM_PERM_BADC));
        const __m512i packed = _mm512_permutexvar_epi64(evenQuads, t);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(squares + bx), _mm512_castsi512_si256(packed));
    }
    blockRowSumsBody(top, stride, bx, C, colSum, colSquares, sums, squares);
}
#pragma GCC diagnostic pop

LUMAQC_TARGET_AVX2 static void blockRowSumsAvx2(const uint8_t* top, uint64_t stride, uint32_t C, uint16_t* colSum,
                                                uint32_t* colSquares, int32_t* sums, int32_t* squares) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i evenInts = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    uint32_t bx = 0;
    for (; bx + 4 <= C; bx += 4) {
        const uint8_t* p = top + static_cast<uint64_t>(bx) * BLOCKSIZE;
        __m256i s = zero, low = zero, high = zero;
        for (int r = 0; r < BLOCKSIZE; ++r, p += stride) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            s = _mm256_add_epi64(s, _mm256_sad_epu8(x, zero));
            const __m256i lo = _mm256_unpacklo_epi8(x, zero);
            const __m256i hi = _mm256_unpackhi_epi8(x, zero);
            low = _mm256_add_epi32(low, _mm256_madd_epi16(lo, lo));
            high = _mm256_add_epi32(high, _mm256_madd_epi16(hi, hi));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + bx),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(s, evenInts)));
        const __m256i w = _mm256_add_epi32(_mm256_unpacklo_epi32(low, high), _mm256_unpackhi_epi32(low, high));
        const __m256i t = _mm256_add_epi32(w, _mm256_shuffle_epi32(w, _MM_SHUFFLE(1, 0, 3, 2)));
        const __m256i packed = _mm256_permute4x64_epi64(t, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(squares + bx), _mm256_castsi256_si128(packed));
    }
    blockRowSumsBody(top, stride, bx, C, colSum, colSquares, sums, squares);
}
#endif

// Sums and square sums of the C blocks of one block row.
void blockRowSums(Isa isa, const uint8_t* top, uint64_t stride, uint32_t C, uint16_t* colSum, uint32_t* colSquares,
                  int32_t* sums, int32_t* squares) {
#ifdef LUMAQC_X86_VARIANTS
    if (isa == Isa::Avx512) return blockRowSumsAvx512(top, stride, C, colSum, colSquares, sums, squares);
    if (isa == Isa::Avx2) return blockRowSumsAvx2(top, stride, C, colSum, colSquares, sums, squares);
#else
    (void)isa;
#endif
    blockRowSumsBody(top, stride, 0, C, colSum, colSquares, sums, squares);
}

// Smoothing, residual and inner sums of the N gathered blocks of the
// transposed container: s[k] and q[k] receive the sum and square sum of the
// residual over block k's inner 6 x 6 pixels.
static LUMAQC_ALWAYS_INLINE void innerSumsBody(const uint8_t* container, const double* weight, uint32_t N,
                                               double* __restrict s, double* __restrict q) {
    for (uint32_t k = 0; k < N; ++k) {
        s[k] = 0.0;
        q[k] = 0.0;
    }
    const double w0 = weight[0], w1 = weight[1], w2 = weight[2];
    const double w3 = weight[3], w4 = weight[4], w5 = weight[5];
    const double w6 = weight[6], w7 = weight[7], w8 = weight[8];
    for (int y = 1; y < BLOCKSIZE - 1; ++y) {
        for (int x = 1; x < BLOCKSIZE - 1; ++x) {
            const uint8_t* above = container + ((y - 1) * BLOCKSIZE + x - 1) * MAX_CONTAINER_WIDTH;
            const uint8_t* here = above + BLOCKSIZE * MAX_CONTAINER_WIDTH;
            const uint8_t* below = here + BLOCKSIZE * MAX_CONTAINER_WIDTH;
            const uint8_t* centre = here + MAX_CONTAINER_WIDTH;
            const uint8_t* a0 = above;
            const uint8_t* a1 = above + MAX_CONTAINER_WIDTH;
            const uint8_t* a2 = above + 2 * MAX_CONTAINER_WIDTH;
            const uint8_t* h0 = here;
            const uint8_t* h2 = here + 2 * MAX_CONTAINER_WIDTH;
            const uint8_t* b0 = below;
            const uint8_t* b1 = below + MAX_CONTAINER_WIDTH;
            const uint8_t* b2 = below + 2 * MAX_CONTAINER_WIDTH;
            for (uint32_t k = 0; k < N; ++k) {
                double acc = 0.0;
                acc += w0 * static_cast<double>(a0[k]);
                acc += w1 * static_cast<double>(a1[k]);
                acc += w2 * static_cast<double>(a2[k]);
                acc += w3 * static_cast<double>(h0[k]);
                acc += w4 * static_cast<double>(centre[k]);
                acc += w5 * static_cast<double>(h2[k]);
                acc += w6 * static_cast<double>(b0[k]);
                acc += w7 * static_cast<double>(b1[k]);
                acc += w8 * static_cast<double>(b2[k]);
                const double residual = static_cast<double>(centre[k]) - acc;
                s[k] += residual;
                q[k] += residual * residual;
            }
        }
    }
}
LUMAQC_VARIANTS(void, innerSums, innerSumsBody,
                (const uint8_t* container, const double* weight, uint32_t N, double* s, double* q),
                (container, weight, N, s, q))

// Gaussian weights without normalisation; 6.28 stands in for 2 pi.
void fillKernel(double* kernel, int32_t sigma) {
    const int32_t sigmaSquared = sigma * sigma;
    const int32_t twoSigmaSquared = 2 * sigma * sigma;
    const double reciprocal = 1.0 / (static_cast<double>(sigmaSquared) * 6.28);
    const int32_t half = GAUSSIAN_MASK_SIZE / 2;
    for (int32_t y = -half; y <= half; ++y) {
        for (int32_t x = -half; x <= half; ++x) {
            const int32_t negativeSquare = -(x * x + y * y);
            const double weight =
                std::exp(static_cast<double>(negativeSquare) / static_cast<double>(twoSigmaSquared)) * reciprocal;
            kernel[(y + half) * GAUSSIAN_MASK_SIZE + (x + half)] = weight;
        }
    }
}

// The smoothing step refuses a destination of another size than its source
// and a source lower than the kernel, saying why.
bool smoothingRefused(uint64_t sourceW, uint64_t sourceH, uint64_t destW, uint64_t destH, uint64_t kernelH,
                      const MessageSink& messages) {
    if (sourceW != destW || sourceH != destH) {
        messages.send("Source and destination images do not match with their size!\n");
        return true;
    }
    if (sourceH < kernelH) {
        messages.send("Source image is to small for that kernel!\n");
        return true;
    }
    return false;
}

}  // namespace

void reserveNoise(NoiseScratch& scratch, uint64_t w, uint64_t h) {
    const uint32_t C = static_cast<uint32_t>(w / BLOCKSIZE);
    const uint32_t R = static_cast<uint32_t>(h / BLOCKSIZE);
    const uint64_t blocks = static_cast<uint64_t>(C) * R;
    growScratch(scratch.floorDevs, blocks);
    growScratch(scratch.roundDevs, blocks);
    growScratch(scratch.colSums, static_cast<uint64_t>(C) * BLOCKSIZE);
    growScratch(scratch.colSquares, static_cast<uint64_t>(C) * BLOCKSIZE);
    growScratch(scratch.sums, C);
    growScratch(scratch.squares, C);
    growScratch(scratch.deviations, C);
    growScratch(scratch.container, kBlockPixels * MAX_CONTAINER_WIDTH);
    growScratch(scratch.innerSum, MAX_CONTAINER_WIDTH);
    growScratch(scratch.innerSquareSum, MAX_CONTAINER_WIDTH);
}


double noise(const Image* img, IndicatorState& state) {
    const uint64_t R = img->h / BLOCKSIZE;
    NoiseHistogram histogram;
    for (uint64_t t = 0; img->w >= BLOCKSIZE && t < R; ++t) noiseBlockRow(state.isa, img, t, state.noise, histogram);
    return noiseFinish(img, state, histogram);
}

const int32_t* noiseBlockRow(Isa isa, const Image* img, uint64_t t, NoiseScratch& scratch, NoiseHistogram& histogram) {
    const uint32_t C = static_cast<uint32_t>(img->w / BLOCKSIZE);
    const uint32_t R = static_cast<uint32_t>(img->h / BLOCKSIZE);
    const uint64_t stride = img->w;
    const uint64_t blocks = static_cast<uint64_t>(C) * R;

    // Per block: floor and rounding of its deviation. Scratch kept from call to call.
    uint8_t* const floorDev = growScratch(scratch.floorDevs, blocks);
    uint8_t* const roundDev = growScratch(scratch.roundDevs, blocks);
    uint16_t* const colSum = growScratch(scratch.colSums, static_cast<uint64_t>(C) * BLOCKSIZE);
    uint32_t* const colSquare = growScratch(scratch.colSquares, static_cast<uint64_t>(C) * BLOCKSIZE);
    int32_t* const sum = growScratch(scratch.sums, C);
    int32_t* const square = growScratch(scratch.squares, C);
    double* const deviation = growScratch(scratch.deviations, C);

    // 32-bit counters: a 16-bit bin would wrap on large flat pictures and
    // then hand the mode to a thinly populated bin.
    const uint64_t first = t * C;
    blockRowSums(isa, img->data + t * BLOCKSIZE * stride, stride, C, colSum, colSquare, sum, square);
    blockDeviations(isa, C, sum, square, deviation, floorDev + first, roundDev + first);
    const uint64_t counted = histogram.blocks;
    for (uint32_t i = 0; i < C; ++i) {
        // Deviations of 127.5 and more count in the last bin.
        const uint8_t rounded = roundDev[first + i];
        const int k = rounded >= HISTOGRAM_ENTRIES - 1 ? HISTOGRAM_ENTRIES - 1 : rounded;
        ++histogram.bins[i & 3][k];
        histogram.last[k] = counted + i;
    }
    histogram.blocks = counted + C;
    return sum;
}

double noiseFinish(const Image* img, IndicatorState& state, const NoiseHistogram& noiseHistogram) {
    const uint32_t C = static_cast<uint32_t>(img->w / BLOCKSIZE);
    const uint32_t R = static_cast<uint32_t>(img->h / BLOCKSIZE);
    const uint64_t stride = img->w;
    const uint64_t blocks = static_cast<uint64_t>(C) * R;
    const Isa isa = state.isa;
    NoiseScratch& scratch = state.noise;
    const uint8_t* const floorDev = growScratch(scratch.floorDevs, blocks);
    const uint8_t* const roundDev = growScratch(scratch.roundDevs, blocks);
    uint32_t histogram[HISTOGRAM_ENTRIES];
    for (int k = 0; k < HISTOGRAM_ENTRIES; ++k)
        histogram[k] = noiseHistogram.bins[0][k] + noiseHistogram.bins[1][k] + noiseHistogram.bins[2][k] +
                       noiseHistogram.bins[3][k];
    // Of two bins with the same count, the first to get there (the one whose
    // last block came first) is the mode; 0 when nothing was counted.
    int mode = 0;
    for (int k = 1; k < HISTOGRAM_ENTRIES; ++k) {
        const bool more = histogram[k] > histogram[mode];
        const bool sooner =
            histogram[k] == histogram[mode] && histogram[k] != 0 && noiseHistogram.last[k] < noiseHistogram.last[mode];
        if (more || sooner) mode = k;
    }

    const int c = mode == 0 ? 1 : mode;
    const int64_t below = histogram[c - 1];
    const int64_t at = histogram[c];
    const int64_t above = c + 1 < HISTOGRAM_ENTRIES ? histogram[c + 1] : 0;
    const int64_t numerator = (c - 1) * below + c * at + (c + 1) * above;
    const int64_t denominator = below + at + above;
    // Without any whole block this is 0/0, which counts as a zero mode.
    const double refined = static_cast<double>(numerator) / static_cast<double>(denominator);

    const int32_t sigma = std::isnan(refined) ? 0 : static_cast<int32_t>(std::round(refined));
    const int32_t m = std::isnan(refined) ? 0 : static_cast<int32_t>(std::floor(refined));
    if (sigma == 0) return 0.0;

    // Gather the first blocks whose deviation matches the refined mode: by its
    // integer part when the mode's fraction is below one half, otherwise by
    // rounding to sigma.
    uint8_t* const container = growScratch(scratch.container, kBlockPixels * MAX_CONTAINER_WIDTH);
    const bool byFloor = m == sigma;
    const int32_t wanted = byFloor ? m : sigma;
    const uint8_t* const matchDev = byFloor ? floorDev : roundDev;
    uint32_t N = 0;
    for (uint32_t t = 0; t < R && N < MAX_CONTAINER_WIDTH; ++t) {
        for (uint32_t i = 0; i < C && N < MAX_CONTAINER_WIDTH; ++i) {
            if (matchDev[static_cast<uint64_t>(t) * C + i] != wanted) continue;
            const uint8_t* from =
                img->data + static_cast<uint64_t>(t) * BLOCKSIZE * stride + static_cast<uint64_t>(i) * BLOCKSIZE;
            for (int y = 0; y < BLOCKSIZE; ++y, from += stride)
                for (int x = 0; x < BLOCKSIZE; ++x) container[(y * BLOCKSIZE + x) * MAX_CONTAINER_WIDTH + N] = from[x];
            ++N;
        }
    }

    double kernel[GAUSSIAN_MASK_SIZE * GAUSSIAN_MASK_SIZE];
    fillKernel(kernel, sigma);

    // The container (MAX_CONTAINER_WIDTH blocks of BLOCKSIZE x BLOCKSIZE) and its filtered copy.
    const uint64_t containerW = static_cast<uint64_t>(MAX_CONTAINER_WIDTH) * BLOCKSIZE;
    if (smoothingRefused(containerW, BLOCKSIZE, containerW, BLOCKSIZE, GAUSSIAN_MASK_SIZE, state.messages)) {
        state.messages.send("Cannot filter the selected blocks! ");
        state.messages.send("Check the string above to see what is the problem.\n");
        return -1.0;
    }

    double* const innerSum = growScratch(scratch.innerSum, MAX_CONTAINER_WIDTH);
    double* const innerSquareSum = growScratch(scratch.innerSquareSum, MAX_CONTAINER_WIDTH);
    innerSums(isa, container, kernel, N, innerSum, innerSquareSum);

    // Inner deviations (36 pixels, divisor 35) and their mean in block order.
    // Nothing gathered: 0/0, not a number.
    const double n = static_cast<double>((BLOCKSIZE - 2) * (BLOCKSIZE - 2));
    double total = 0.0;
    for (uint32_t k = 0; k < N; ++k) {
        const double variance = (innerSquareSum[k] - (innerSum[k] * innerSum[k]) / n) / (n - 1.0);
        total += std::sqrt(variance);
    }
    return total / static_cast<double>(static_cast<int32_t>(N));
}


}  // namespace lumaqc
