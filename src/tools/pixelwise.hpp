// Pixel-wise arithmetic. The element count n is (int32)w * (int32)h of src1;
// nothing is written when n <= 0. src2 and dest must hold n elements (checked).
// The destination may be one of the sources where the pixel types agree.
#pragma once

#include <cstdint>

#include "tools/pictures.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {

// Each returns a failed SizeCheck, writing nothing, when a picture is too small.
SizeCheck addSquares32(const Image32* src1, const Image32* src2, Image32* dest);  // wraps in 32 bits
SizeCheck multiply(const Image32* src1, const Image32* src2, Image32* dest);      // wraps in 32 bits
SizeCheck divideDouble(const ImageDouble* src1, const ImageDouble* src2, ImageDouble* dest);
// dest(x, y) = 1 when src[y*src->w + x] == src[y*src->w + x + shift], else 0,
// over dest's w x h. Every index read must lie inside src (checked).
SizeCheck compareShifted(const Image* src, Image* dest, int32_t shift);

// Element count of a two-source operator: the low 32 bits of src1's width
// and height multiplied as 32-bit signed integers (wrapping, computed
// unsigned). Zero or negative means an empty picture.
template <typename Picture>
inline int32_t pixelwiseCount(const Picture* src1) {
    return static_cast<int32_t>(static_cast<uint32_t>(src1->w) * static_cast<uint32_t>(src1->h));
}

// True when the picture holds at least n elements.
template <typename Picture>
inline bool pixelwiseHolds(const Picture* p, int32_t n) {
    return p->w * p->h >= static_cast<uint64_t>(n);
}

}  // namespace lumaqc
