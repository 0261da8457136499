// Derivative operators: Roberts cross and backward differences. Destinations
// of roberts and gradient have the source's size (checked). Row 0 and column 0
// of every destination are 0.
#pragma once

#include <cstdint>

#include "tools/pictures.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {

// Roberts cross: destX = S(x-1,y-1) - S(x,y), destY = S(x,y-1) - S(x-1,y).
SizeCheck roberts(const Image* src, Image32* destX, Image32* destY);
// Roberts cross at the windows whose bottom-right pixel is (X*stepX, r*stepY);
// output size is destX's w x h; destY must hold as many pixels. Needs steps
// >= 1 and every sample inside the source (checked).
SizeCheck robertsSkip(const Image* src, Image32* destX, Image32* destY, int32_t stepX, int32_t stepY);
// Backward differences: destX = S(x,y) - S(x-1,y), destY = S(x,y) - S(x,y-1).
SizeCheck gradient(const Image* src, Image32* destX, Image32* destY);

}  // namespace lumaqc
