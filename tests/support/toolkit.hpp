// The toolkit operators that only the tests use: constructors of foreign
// buffers, plain reductions, integral images, the Sobel operators, the type
// conversions and the temporary run counters. They follow the conventions of
// src/tools/pictures.hpp. The library's own operators come along, so that a
// test sees the whole toolkit through this header.
#pragma once

#include <cstdint>

#include "tools/activityOperators.hpp"
#include "tools/blockStatistics.hpp"
#include "tools/gradients.hpp"
#include "tools/pictures.hpp"
#include "tools/pixelwise.hpp"
#include "tools/runCounting.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {

// make*: wrap a foreign buffer (owns nothing). alloc*: malloc, uninitialised
// pixels; released with the free* of src/tools/pictures.hpp.
Image makeImage(uint64_t w, uint64_t h, uint8_t* data);
Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data);
ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data);
Image allocImage(uint64_t w, uint64_t h);
Image32 allocImage32(uint64_t w, uint64_t h);
ImageDouble allocImageDouble(uint64_t w, uint64_t h);

// Sum of all pixels, wrapping modulo 2^32; 0 for an empty picture.
uint32_t sumPixels(const Image* img);
// 1 when both pictures have the same size and pixels, else 0.
int areEqual(const Image* a, const Image* b);
// Sum (32-bit, wrapping) and sum of squares (64-bit) of the first
// (int32)w * (int32)h pixels; returns the sum. Both are 0 for an empty picture.
int32_t sumAndSquareSum(const Image* img, int32_t* sum, int64_t* squareSum);
// Prints (lastRow - firstRow + 1) lines of (lastCol - firstCol + 1) values
// taken consecutively from the start of the buffer ("%03i " each).
void printRange(const Image* img, int firstCol, int lastCol, int firstRow, int lastRow);
// The same for a 32-bit picture ("%i  " each).
void printRange32(const Image32* img, int firstCol, int lastCol, int firstRow, int lastRow);

// Pixel-wise arithmetic, as in src/tools/pixelwise.hpp.
SizeCheck addSquares(const Image* src1, const Image* src2, Image32* dest);
SizeCheck divide(const Image32* src1, const Image32* src2, ImageDouble* dest);  // IEEE division

// Run counters over the whole picture.
// The picture as one flat sequence walked with a 32-bit signed index (integer
// comparison with threshold); a run's end search looks no further than w (the
// first row), and the pixel that ends a run counts in its length. Returns the
// number of runs of at least minRunLength. The ignored arguments carry nothing.
int32_t tempCountSeqsH(const Image32* src, int32_t ignored1, int32_t threshold, int32_t ignored2,
                       int32_t ignored3, int32_t minRunLength);
// Number of maximal runs of pixels strictly above threshold along each row
// (any length from 1, rows never joined); 0 for a picture with no pixels.
int32_t tempCountSeqsH2(const Image32* src, int32_t ignored, int32_t threshold);

// Writes each text to standard output as it is.
MessageSink standardOutputSink();
// The block statistics of src/tools/blockStatistics.hpp with their messages on standard output.
int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw,
               uint32_t bh);
SizeCheck calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                            ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw,
                                            uint64_t bh);

// Smallest and largest of size values (size > 0, checked).
SizeCheck minmax(const int32_t* values, uint64_t size, int32_t* min, int32_t* max);

// Integral images and directional sums. No argument is checked.

// Sum of the first w * h bytes (32-bit product) in memory order, 32-bit
// wrapping; 0 when w * h <= 0.
int32_t sumH(const uint8_t* data, int32_t w, int32_t h);
// The same w * h bytes visited column by column (row stride w); 0 when w <= 0
// or h <= 0.
int32_t sumV(const uint8_t* data, int32_t w, int32_t h);
// Summed-area table of src (sum over rows <= y, columns <= x; 32-bit wrapping)
// into dest, which must hold src's w x h values. An empty src writes nothing.
void integrate(const Image* src, Image32* dest);
// Copies src's w x h pixels to the start of dest's buffer, which must hold as
// many (its own w and h are not read).
void onlyCopy(const Image* src, Image* dest);
// Writes (not adds) bw x bh block sums, read at the block corners of an integral
// image, into the dest->w x dest->h grid; integral must cover the grid.
void blockSumsInteg(const Image32* integral, Image32* dest, uint64_t bw, uint64_t bh);
// The same corner formula over 8-bit corner values, each widened to int32.
void blockSumsInteg2(const Image* corners, Image32* dest, uint64_t bw, uint64_t bh);

// Sobel and absolute gradient. Both destinations must have the source's w
// and h (checked); every destination pixel is written.

// Sobel responses Gx (right minus left), Gy (bottom minus top), 0 on the
// one-pixel border; returns the root of the summed Gx^2 + Gy^2 (0.0 if none),
// or not-a-number, writing nothing, when a destination's size differs.
double sobel(const Image* src, Image32* destX, Image32* destY);
// The same responses, only their low 8 bits stored (-4 as 252); returns the
// sum of sqrt(X^2 + Y^2) of the stored values, truncated after every addition,
// or -1, writing nothing, when a destination's size differs.
int32_t sobel2(const Image* src, Image* destX, Image* destY);
// |S(x,y) - S(x-1,y)| into destX and |S(x,y) - S(x,y-1)| into destY; row 0
// and column 0 are 0, the last row and column are computed.
SizeCheck absGradient(const Image* src, Image32* destX, Image32* destY);

// Type conversions: pixel k of src to pixel k of dest, for the w x h pixels of
// src. The pixel counts must agree (checked), not the shapes.

// 0..255 widened to int32.
SizeCheck convU8toI32(const Image* src, Image32* dest);
// The low 8 bits of each value (value mod 256), no clamping.
SizeCheck convI32toU8(const Image32* src, Image* dest);
// IEEE square root of each value (a negative value gives NaN).
SizeCheck imageSqrt(const ImageDouble* src, ImageDouble* dest);

}  // namespace lumaqc
