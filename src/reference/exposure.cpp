#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

namespace reference {

// Largest possible sum of one 8 x 8 block.
static constexpr double kFullBlockSum = BLOCKSIZE * BLOCKSIZE * 255.0;

// Puts sum into the ascending list before the first entry that is not
// smaller; the last entry falls out. A sum above every entry changes nothing.
static void insertSmallest(double* list, double sum) {
    for (int i = 0; i < nBlSum; ++i) {
        if (list[i] >= sum) {
            for (int j = nBlSum - 1; j > i; --j) list[j] = list[j - 1];
            list[i] = sum;
            return;
        }
    }
}

// The mirror image for the descending list of the largest sums.
static void insertLargest(double* list, double sum) {
    for (int i = 0; i < nBlSum; ++i) {
        if (list[i] <= sum) {
            for (int j = nBlSum - 1; j > i; --j) list[j] = list[j - 1];
            list[i] = sum;
            return;
        }
    }
}

double exposure(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint64_t stride = w;

    double smallest[TABSIZE];
    double largest[TABSIZE];
    for (int i = 0; i < nBlSum; ++i) {
        smallest[i] = kFullBlockSum;
        largest[i] = 0.0;
    }

    // Blocks are visited column by column, and only where at least one pixel
    // column lies right of the block and one pixel row below it: a width or
    // height that is a multiple of 8 leaves its last block column or row out,
    // and a picture of 8 pixels or fewer across or down has no block at all.
    const uint32_t size = static_cast<uint32_t>(BLOCKSIZE);
    if (w >= size && h >= size) {
        for (uint32_t x0 = 0; x0 < w - size; x0 += size) {
            for (uint32_t y0 = 0; y0 < h - size; y0 += size) {
                double sum = 0.0;
                for (uint32_t y = y0; y < y0 + size; ++y) {
                    const uint8_t* row = img->data + y * stride;
                    for (uint32_t x = x0; x < x0 + size; ++x) sum += row[x];
                }
                insertSmallest(smallest, sum);
                insertLargest(largest, sum);
            }
        }
    }

    // Entries no block replaced keep their starting values and count too.
    double total = 0.0;
    for (int i = 0; i < nBlSum; ++i) total += largest[i];
    for (int i = 0; i < nBlSum; ++i) total += smallest[i];
    return total / (2.0 * nBlSum * BLOCKSIZE * BLOCKSIZE);
}

}  // namespace reference

}  // namespace lumaqc
