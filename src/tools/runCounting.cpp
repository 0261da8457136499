#include "tools/runCounting.hpp"

#include "tools/sizeChecks.hpp"

namespace lumaqc {

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

SizeCheck countSeqsH(const Image32* src, Image32* dest, uint64_t blockWidth, uint64_t blockHeight,
                     int32_t minRunLength, double threshold) {
    TOOLKIT_CHECK(runGridFits(dest->w, blockWidth, src->w), "dest->w * blockWidth <= src->w", "countSeqsH");
    TOOLKIT_CHECK(runGridFits(dest->h, blockHeight, src->h), "dest->h * blockHeight <= src->h", "countSeqsH");
    TOOLKIT_CHECK(blockHeight >= 1, "blockHeight >= 1", "countSeqsH");
    const uint64_t outW = dest->w;
    const uint64_t outH = dest->h;
    if (outH == 0) return {};
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
    return {};
}

SizeCheck countSeqsV(const Image32* src, Image32* dest, Image32* runLengths, uint64_t blockWidth,
                     uint64_t blockHeight, int32_t minRunLength, double threshold) {
    TOOLKIT_CHECK(runGridFits(dest->w, blockWidth, src->w), "dest->w * blockWidth <= src->w", "countSeqsV");
    TOOLKIT_CHECK(runGridFits(dest->h, blockHeight, src->h), "dest->h * blockHeight <= src->h", "countSeqsV");
    TOOLKIT_CHECK(blockHeight >= 1, "blockHeight >= 1", "countSeqsV");
    const uint64_t outW = dest->w;
    const uint64_t outH = dest->h;
    // Within the bound just checked, so the product below does not wrap.
    const uint64_t columns = outW * blockWidth;
    TOOLKIT_CHECK(runLengths->w * runLengths->h >= columns, "runLengths->w * runLengths->h >= dest->w * blockWidth",
                  "countSeqsV");
    if (outH == 0) return {};
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
    return {};
}

}  // namespace lumaqc
