#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

// Freezing works on two values per frame and has nothing to make faster: the
// fast indicator and the reference take the same step.
namespace reference {

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps, int32_t& freezingTemp) {
    return countFrozenFrames(blackoutFlag, temporalActivityValue, fps, freezingTemp);
}

}  // namespace reference

}  // namespace lumaqc
