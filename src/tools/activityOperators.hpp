// The operators behind the activity and flickering indicators.
#pragma once

#include <cstdint>

#include "tools/pictures.hpp"

namespace lumaqc {

// Root of the summed squared Sobel magnitudes over the interior pixels.
double spatialAct(const Image* img);
// Root of the summed squared differences of cur and prev over cur's w * h
// pixels in buffer order (prev must hold as many); 0.0 for an empty picture.
double temporalAct(const Image* cur, const Image* prev);
// Adds per-block mean absolute differences into means, then updates the
// per-block states (still/changing) and switch counts; the grid is counts' w x h.
void calculateFlickering(const Image* cur, const Image* prev, Image* counts, Image* states, ImageDouble* means,
                         int32_t blockSize, double threshold);

}  // namespace lumaqc
