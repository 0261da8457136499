#include "indicators/indicators.hpp"
#include "reference/reference.hpp"

// Freezing works on two values per frame and has nothing to make faster: the
// indicator is its own reference.
namespace reference {

uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps) {
    return ::freezing(blackoutFlag, temporalActivityValue, fps);
}

}  // namespace reference
