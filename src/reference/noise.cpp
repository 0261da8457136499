#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"

namespace lumaqc {

namespace reference {

namespace {

// Histogram bin of a block deviation: rounded half away from zero. The rare
// deviations of 127.5 and more (blocks of half black, half white pixels) count
// in the last bin.
int histogramBin(double deviation) {
    const double k = std::round(deviation);
    if (k >= HISTOGRAM_ENTRIES - 1) return HISTOGRAM_ENTRIES - 1;
    if (k > 0.0) return static_cast<int>(k);
    return 0;
}

// Gaussian weights without normalisation; 6.28 stands in for 2 pi.
void fillKernel(ImageDouble* kernel, int32_t sigma) {
    const int32_t sigmaSquared = sigma * sigma;
    const int32_t twoSigmaSquared = 2 * sigma * sigma;
    const double reciprocal = 1.0 / (static_cast<double>(sigmaSquared) * 6.28);
    const int32_t half = GAUSSIAN_MASK_SIZE / 2;
    for (int32_t y = -half; y <= half; ++y) {
        for (int32_t x = -half; x <= half; ++x) {
            const int32_t negativeSquare = -(x * x + y * y);
            const double weight =
                std::exp(static_cast<double>(negativeSquare) / static_cast<double>(twoSigmaSquared)) * reciprocal;
            kernel->data[(y + half) * GAUSSIAN_MASK_SIZE + (x + half)] = weight;
        }
    }
}

}  // namespace

double noise(const Image* img, const MessageSink& messages) {
    const uint32_t C = static_cast<uint32_t>(img->w / BLOCKSIZE);
    const uint32_t R = static_cast<uint32_t>(img->h / BLOCKSIZE);

    Image32 blockSum = callocImage32(C, R);
    Image32 blockSquareSum = callocImage32(C, R);
    ImageDouble deviation = callocImageDouble(C, R);
    SizeChecks sized;
    sized += calculateStdDevs(img, &blockSum, &blockSquareSum, &deviation, BLOCKSIZE, BLOCKSIZE);
    const double* D = deviation.data;
    const uint64_t blocks = static_cast<uint64_t>(C) * R;

    // 32-bit counters: a 16-bit bin would wrap on large flat pictures and
    // then hand the mode to a thinly populated bin.
    uint32_t* histogram = static_cast<uint32_t*>(std::calloc(HISTOGRAM_ENTRIES, sizeof(uint32_t)));
    int mode = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        const int k = histogramBin(D[b]);
        ++histogram[k];
        // Strictly greater: of two bins with the same count, the first to get there stays the mode.
        if (histogram[k] > histogram[mode]) mode = k;
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
    if (sigma == 0) {
        freeImage32(&blockSum);
        freeImage32(&blockSquareSum);
        freeImageDouble(&deviation);
        std::free(histogram);
        return 0.0;
    }

    // Gather the first blocks whose deviation matches the refined mode: by its
    // integer part when the mode's fraction is below one half, otherwise by
    // rounding to sigma.
    Image container = callocImage(static_cast<uint64_t>(MAX_CONTAINER_WIDTH) * BLOCKSIZE, BLOCKSIZE);
    const uint64_t stride = img->w;
    int32_t N = 0;
    for (uint32_t t = 0; t < R && N < MAX_CONTAINER_WIDTH; ++t) {
        for (uint32_t i = 0; i < C && N < MAX_CONTAINER_WIDTH; ++i) {
            const double d = D[static_cast<uint64_t>(t) * C + i];
            const bool matches = m == sigma ? std::floor(d) == static_cast<double>(m)
                                            : std::round(d) == static_cast<double>(sigma);
            if (!matches) continue;
            for (int y = 0; y < BLOCKSIZE; ++y) {
                const uint8_t* from = img->data + (static_cast<uint64_t>(t) * BLOCKSIZE + y) * stride +
                                      static_cast<uint64_t>(i) * BLOCKSIZE;
                std::memcpy(container.data + y * container.w + static_cast<uint64_t>(N) * BLOCKSIZE, from,
                            BLOCKSIZE);
            }
            ++N;
        }
    }

    ImageDouble kernel = callocImageDouble(GAUSSIAN_MASK_SIZE, GAUSSIAN_MASK_SIZE);
    fillKernel(&kernel, sigma);

    ImageDouble filtered = callocImageDouble(container.w, container.h);
    if (filter(&container, &filtered, &kernel, N, BLOCKSIZE, BLOCKSIZE, messages) != 0) {
        messages.send("Cannot filter the selected blocks! ");
        messages.send("Check the string above to see what is the problem.\n");
        freeImage32(&blockSum);
        freeImage32(&blockSquareSum);
        freeImageDouble(&deviation);
        std::free(histogram);
        freeImage(&container);
        freeImageDouble(&kernel);
        freeImageDouble(&filtered);
        return -1.0;
    }

    // The block borders keep the pixel itself here; only the inner pixels are measured.
    const uint64_t residualWidth = static_cast<uint64_t>(N) * BLOCKSIZE;
    ImageDouble residual = callocImageDouble(residualWidth, BLOCKSIZE);
    for (uint64_t y = 0; y < BLOCKSIZE; ++y)
        for (uint64_t x = 0; x < residualWidth; ++x)
            residual.data[y * residualWidth + x] =
                static_cast<double>(container.data[y * container.w + x]) - filtered.data[y * filtered.w + x];

    ImageDouble innerSum = callocImageDouble(static_cast<uint64_t>(N), 1);
    ImageDouble innerSquareSum = callocImageDouble(static_cast<uint64_t>(N), 1);
    ImageDouble innerDeviation = callocImageDouble(static_cast<uint64_t>(N), 1);
    sized += calculateStdDevsDouble_ommitZeros(&residual, &innerSum, &innerSquareSum, &innerDeviation, &kernel,
                                               BLOCKSIZE, BLOCKSIZE, messages);

    double total = 0.0;
    for (int32_t k = 0; k < N; ++k) total += innerDeviation.data[k];
    // Nothing gathered: 0/0, not a number.
    const double result = total / static_cast<double>(N);

    freeImage32(&blockSum);
    freeImage32(&blockSquareSum);
    freeImageDouble(&deviation);
    std::free(histogram);
    freeImage(&container);
    freeImageDouble(&kernel);
    freeImageDouble(&filtered);
    freeImageDouble(&residual);
    freeImageDouble(&innerSum);
    freeImageDouble(&innerSquareSum);
    freeImageDouble(&innerDeviation);
    // The pictures are sized for their operators: a refused size means "not measured".
    return sized.allOk ? result : -1.0;
}

}  // namespace reference

}  // namespace lumaqc
