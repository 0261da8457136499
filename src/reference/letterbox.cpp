#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

// The scan as its algorithm states it: pairs of rows from the outside in, each
// judged by the per-line test the indicator's file offers.
namespace reference {

double letterbox(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t halfH = h >> 1;
    double count = 0.0;
    // The first pair of rows with detail ends the bar. With no pair at all
    // (h < 2) this is 0 / 0, not-a-number.
    for (uint32_t i = 0; i < halfH; ++i) {
        if (!checkLetterBar(img->data, w, h, i)) break;
        count += 1.0;
    }
    return count / static_cast<double>(halfH);
}

}  // namespace reference

}  // namespace lumaqc
