#include <cstdlib>
#include <cstring>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/activityOperators.hpp"

namespace lumaqc {

namespace reference {

double flickering(const Image* cur, const Image* prev, Image* counts, Image* states, int32_t& frameCount) {

    ImageDouble means = callocImageDouble(cur->w / BLOCKSIZE, cur->h / BLOCKSIZE);
    calculateFlickering(cur, prev, counts, states, &means, BLOCKSIZE, FLICKER_THRESHOLD);
    freeImageDouble(&means);

    ++frameCount;
    if (frameCount != framePeriod) return -1.0;

    const uint32_t len = static_cast<uint32_t>(counts->w) * static_cast<uint32_t>(counts->h);
    const uint32_t selected = static_cast<uint32_t>(static_cast<double>(len) * FLICKER_SELECTED_SHARE);

    // Largest counts first; only the values matter, not which blocks they belong to.
    std::qsort(counts->data, len, 1, compareElements);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < selected; ++i) sum += counts->data[i];

    frameCount = 0;
    // Fewer than 34 blocks select none: 0 / 0, not-a-number.
    const double result = static_cast<double>(sum) / static_cast<double>(8u * selected);

    // The next period starts with every block still and every count 0.
    std::memset(counts->data, 0, len);
    std::memset(states->data, 0, len);
    return result;
}

}  // namespace reference

}  // namespace lumaqc
