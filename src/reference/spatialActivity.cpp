#include <cmath>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/activityOperators.hpp"

namespace lumaqc {

namespace reference {

// The border pixels take part in the count though not in the sum. An empty
// picture gives 0 / 0, not-a-number.
double spatialActivity(const Image* img) {
    const uint64_t pixels = img->w * img->h;
    return spatialAct(img) / std::sqrt(static_cast<double>(pixels));
}

}  // namespace reference

}  // namespace lumaqc
