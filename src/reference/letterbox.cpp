#include "indicators/indicators.hpp"
#include "reference/reference.hpp"

// The bar scans as their algorithms state them: line by line from the outside
// in, each line judged by the per-line tests the indicators' files offer.
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
