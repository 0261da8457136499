#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

// The scan as its algorithm states it: columns from the left edge in, each
// judged by the per-line test the indicator's file offers.
namespace reference {

double pillarbox(const Image* img) {
    const uint32_t w = static_cast<uint32_t>(img->w);
    const uint32_t h = static_cast<uint32_t>(img->h);
    const uint32_t halfW = w >> 1;
    double count = 0.0;
    // Only the left half is looked at: a bar at the right edge alone counts for nothing.
    // With no column pair at all (w < 2) this is 0 / 0, not-a-number.
    for (uint32_t i = 0; i < halfW; ++i) {
        if (!checkPillarBar(img->data, w, h, i)) break;
        count += 1.0;
    }
    return count / static_cast<double>(halfW);
}

}  // namespace reference

}  // namespace lumaqc
