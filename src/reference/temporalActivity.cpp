#include <cmath>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/activityOperators.hpp"

namespace lumaqc {

namespace reference {

double temporalActivity(const Image* cur, const Image* prev) {
    // An empty picture divides 0 by 0: not-a-number, as for any other
    // quotient that degenerates.
    const uint64_t pixels = cur->w * cur->h;
    return temporalAct(cur, prev) / std::sqrt(static_cast<double>(pixels));
}

}  // namespace reference

}  // namespace lumaqc
