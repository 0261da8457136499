#include <algorithm>
#include <vector>

#include "common/constants.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"

namespace lumaqc {

namespace reference {

double lumaMin(const Image* img) {
    uint8_t lo = 255;
    for (uint64_t i = 0; i < img->w * img->h; ++i) lo = std::min(lo, img->data[i]);
    return lo;
}

double lumaMax(const Image* img) {
    uint8_t hi = 0;
    for (uint64_t i = 0; i < img->w * img->h; ++i) hi = std::max(hi, img->data[i]);
    return hi;
}

double lumaAvg(const Image* img) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i < img->w * img->h; ++i) sum += img->data[i];
    return static_cast<double>(sum) / static_cast<double>(img->w * img->h);
}

// The code that percent % of the whole 8 x 8 blocks reach with their means
// rounded to codes: nearest rank in the sorted means.
static double blockMeanPercentile(const Image* img, uint32_t percent) {
    const uint64_t blockCols = img->w / BLOCKSIZE;
    const uint64_t blockRows = img->h / BLOCKSIZE;
    const uint64_t n = blockCols * blockRows;
    // Without a whole block there is nothing to measure.
    if (n == 0) return -1.0;
    Image32 sums = callocImage32(blockCols, blockRows);
    blockSums(img, &sums, BLOCKSIZE, BLOCKSIZE);
    std::vector<int32_t> means(n);
    for (uint64_t i = 0; i < n; ++i) means[i] = (sums.data[i] + 32) / 64;
    freeImage32(&sums);
    std::sort(means.begin(), means.end());
    const uint64_t rank = std::max<uint64_t>(1, (n * percent + 99) / 100);
    return means[rank - 1];
}

double lumaLow(const Image* img) { return blockMeanPercentile(img, LEVEL_LOW_PERCENT); }

double lumaHigh(const Image* img) { return blockMeanPercentile(img, LEVEL_HIGH_PERCENT); }

double belowRange(const Image* img, const LumaRange& range) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < img->w * img->h; ++i) count += img->data[i] < range.low ? 1 : 0;
    return static_cast<double>(count) / static_cast<double>(img->w * img->h);
}

double aboveRange(const Image* img, const LumaRange& range) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < img->w * img->h; ++i) count += img->data[i] > range.high ? 1 : 0;
    return static_cast<double>(count) / static_cast<double>(img->w * img->h);
}

}  // namespace reference

}  // namespace lumaqc
