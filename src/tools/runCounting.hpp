// Run counting. A run is a sequence of pixels strictly above threshold; it
// counts once in its cell when its length reaches minRunLength. dest's w x h
// is the cell grid of blockWidth x blockHeight cells; the grid must lie
// inside src (checked). Both return 0.
#pragma once

#include <cstdint>

#include "tools/pictures.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {

// Runs along rows, restarted at every cell's left edge.
SizeCheck countSeqsH(const Image32* src, Image32* dest, uint64_t blockWidth, uint64_t blockHeight,
                     int32_t minRunLength, double threshold);
// Runs down columns, never continued into the next cell row. runLengths holds
// one counter per source column (dest->w * blockWidth elements, 0 on entry and
// on return).
SizeCheck countSeqsV(const Image32* src, Image32* dest, Image32* runLengths, uint64_t blockWidth,
                     uint64_t blockHeight, int32_t minRunLength, double threshold);

}  // namespace lumaqc
