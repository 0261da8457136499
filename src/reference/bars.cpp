#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

// The bars as their definition states them: whole lines summed one by one,
// rows from the top and the bottom edge, then columns over the rows between.
namespace reference {

namespace {

struct Sizes {
    double top = 0.0, bottom = 0.0, left = 0.0, right = 0.0;
};

bool rowIsBar(const Image* img, uint64_t y) {
    uint64_t sum = 0, squares = 0;
    for (uint64_t x = 0; x < img->w; ++x) {
        const uint64_t p = img->data[y * img->w + x];
        sum += p;
        squares += p * p;
    }
    return isBarLine(img->w, sum, squares);
}

bool columnIsBar(const Image* img, uint64_t x, uint64_t y0, uint64_t y1) {
    uint64_t sum = 0, squares = 0;
    for (uint64_t y = y0; y < y1; ++y) {
        const uint64_t p = img->data[y * img->w + x];
        sum += p;
        squares += p * p;
    }
    return isBarLine(y1 - y0, sum, squares);
}

Sizes sizes(const Image* img) {
    const uint64_t w = img->w, h = img->h;
    uint64_t top = 0, bottom = 0, left = 0, right = 0;
    while (top < h && rowIsBar(img, top)) ++top;
    // A picture that is all bar frames nothing: no bars.
    if (top == h) return {};
    while (bottom < h - 1 - top && rowIsBar(img, h - 1 - bottom)) ++bottom;
    const uint64_t y0 = top, y1 = h - bottom;
    while (left < w && columnIsBar(img, left, y0, y1)) ++left;
    if (left == w) return {static_cast<double>(top), static_cast<double>(bottom), 0.0, 0.0};
    while (right < w - left && columnIsBar(img, w - 1 - right, y0, y1)) ++right;
    return {static_cast<double>(top), static_cast<double>(bottom), static_cast<double>(left),
            static_cast<double>(right)};
}

}  // namespace

double barTop(const Image* img) { return sizes(img).top; }
double barBottom(const Image* img) { return sizes(img).bottom; }
double barLeft(const Image* img) { return sizes(img).left; }
double barRight(const Image* img) { return sizes(img).right; }

}  // namespace reference

}  // namespace lumaqc
