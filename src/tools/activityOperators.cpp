#include "tools/activityOperators.hpp"

#include <cmath>

namespace lumaqc {

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

}  // namespace lumaqc
