#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

namespace reference {

// Block by block: each whole 8 x 8 block counts its combed pixels on the even
// rows from 2 to h - 3, pixel by pixel.
double combing(const Image* img) {
    const uint64_t w = img->w, h = img->h;
    const uint64_t size = COMB_BLOCKSIZE;
    auto at = [&](uint64_t x, uint64_t y) { return static_cast<int>(img->data[y * w + x]); };
    double combed = 0.0;
    for (uint64_t by = 0; by + size <= h; by += size) {
        for (uint64_t bx = 0; bx + size <= w; bx += size) {
            int count = 0;
            for (uint64_t y = by; y < by + size; ++y) {
                if (y % 2 != 0 || y < 2 || y + 2 >= h) continue;
                for (uint64_t x = bx; x < bx + size; ++x)
                    if (isCombedPixel(at(x, y - 2), at(x, y - 1), at(x, y), at(x, y + 1), at(x, y + 2))) ++count;
            }
            if (count >= COMB_PIXELS) combed += 1.0;
        }
    }
    // No whole block: 0 / 0, not-a-number.
    return combed / static_cast<double>((w / size) * (h / size));
}

// Each field of the picture against the other field of the one before: row
// y of the picture against the mean of rows y - 1 and y + 1 before it,
// rounded up, on the rows y with y % 4 of 1 or 2.
double fieldOrder(const Image* cur, const Image* prev) {
    const uint64_t w = cur->w, h = cur->h;
    double distance[2] = {0.0, 0.0};  // even (top field) rows, odd (bottom field) rows
    for (uint64_t y = 1; y + 1 < h; ++y) {
        if (y % 4 != 1 && y % 4 != 2) continue;
        for (uint64_t x = 0; x < w; ++x) {
            const int mean = (prev->data[(y - 1) * w + x] + prev->data[(y + 1) * w + x] + 1) / 2;
            const int v = cur->data[y * w + x] - mean;
            distance[y % 2] += v < 0 ? -v : v;
        }
    }
    // The field closer in time to the picture before came first.
    const double top = distance[0], bottom = distance[1];
    return top + bottom == 0.0 ? 0.0 : (bottom - top) / (bottom + top);
}

}  // namespace reference

}  // namespace lumaqc
