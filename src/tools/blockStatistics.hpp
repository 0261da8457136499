// Block statistics: block sums and deviations, and the smoothing filter of
// the noise measure. The deviations' grid is the w x h of the sums picture;
// sums and square sums are added into (callers pass zero-filled pictures); the
// deviations (divisor n - 1) are written to stdDevs, which holds C x R values.
#pragma once

#include <cstdint>

#include "tools/pictures.hpp"
#include "tools/sizeChecks.hpp"
#include "tools/messages.hpp"

namespace lumaqc {

// Sum of all pixels in 64 bits; 0 for an empty picture.
int64_t sumPixels32(const Image32* img);
// Adds the sums of bw x bh blocks of src into dest; dest's w x h is the block
// grid, laid from the top-left corner. Needs dest->w * bw <= src->w and
// dest->h * bh <= src->h. Pixels right of or below the grid are not read.
void blockSums(const Image* src, Image32* dest, uint64_t bw, uint64_t bh);

SizeCheck calculateStdDevs(const Image* src, Image32* sums, Image32* squareSums, ImageDouble* stdDevs,
                           uint64_t bw, uint64_t bh);
// Correlates the kernel with N blocks of bw x bh side by side along the top of
// src, writing only pixels whose window lies inside their block. Returns 0, or
// -1 when the sizes do not fit (with a message when dest differs from src or
// src is lower than the kernel), writing nothing.
int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw, uint32_t bh,
               const MessageSink& messages);
// Block deviations over each block's inner area, leaving out a border of
// kernel->w / 2 pixels. A kernel that is not square: a message, a failed check.
SizeCheck calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                            ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw, uint64_t bh,
                                            const MessageSink& messages);

}  // namespace lumaqc
