// The picture toolkit: descriptors for 8-bit, 32-bit and double pictures,
// their constructors, and every operator the indicators share.
//
// Conventions
// - A descriptor is a small value; copies share the pixel buffer. Whoever
//   allocated the buffer releases it once with the matching free operation.
// - Pixel (x, y) is data[y * w + x]; rows follow each other without padding.
// - Operators never allocate (the constructors aside): the caller sizes and
//   owns every destination. Operators that accumulate (blockSums, the run
//   counters, the block statistics) add onto what the destination holds, so
//   callers pass zero-filled destinations.
// - Where an operator checks sizes, a failed check stops the process with a
//   message in the style of the C library's assert (see toolkitAssertFail).
#pragma once

#include <cstdint>

#include "tools/messages.hpp"

namespace lumaqc {

struct Image {
    uint64_t w;
    uint64_t h;
    uint8_t* data;
};

struct Image32 {
    uint64_t w;
    uint64_t h;
    int32_t* data;
};

struct ImageDouble {
    uint64_t w;
    uint64_t h;
    double* data;
};

// ---------------------------------------------------------------------------
// Assertion of the toolkit: writes
//   "<program>: ../tools/definitions.c:<line>: <function>: Assertion `<condition>' failed."
// on the error stream and aborts. Used where an operator checks its sizes.
[[noreturn]] void toolkitAssertFail(const char* condition, unsigned line, const char* function);

#define TOOLKIT_ASSERT(expr, text, function) \
    ((expr) ? static_cast<void>(0) : toolkitAssertFail((text), __LINE__, (function)))

// ---------------------------------------------------------------------------
// Constructors and release.
// make*: wrap a foreign buffer (owns nothing). alloc*: malloc, uninitialised
// pixels. calloc*: calloc, every pixel zero. free*: frees the pixel buffer
// only (a null buffer is fine); the descriptor must not be used afterwards.
Image makeImage(uint64_t w, uint64_t h, uint8_t* data);
Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data);
ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data);
Image allocImage(uint64_t w, uint64_t h);
Image32 allocImage32(uint64_t w, uint64_t h);
ImageDouble allocImageDouble(uint64_t w, uint64_t h);
Image callocImage(uint64_t w, uint64_t h);
Image32 callocImage32(uint64_t w, uint64_t h);
ImageDouble callocImageDouble(uint64_t w, uint64_t h);
void freeImage(Image* img);
void freeImage32(Image32* img);
void freeImageDouble(ImageDouble* img);

// ---------------------------------------------------------------------------
// Reductions and printing aids.

// Sum of all pixels, wrapping modulo 2^32; 0 for an empty picture.
uint32_t sumPixels(const Image* img);
// Sum of all pixels in 64 bits; 0 for an empty picture.
int64_t sumPixels32(const Image32* img);
// Adds the sums of bw x bh blocks of src into dest; dest's w x h is the block
// grid, laid from the top-left corner. Needs dest->w * bw <= src->w and
// dest->h * bh <= src->h. Pixels right of or below the grid are not read.
void blockSums(const Image* src, Image32* dest, uint64_t bw, uint64_t bh);
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

// ---------------------------------------------------------------------------
// Gradient operators. Destinations of roberts and gradient have the
// source's size (checked). Row 0 and column 0 of every destination are 0.

// Roberts cross: destX = S(x-1,y-1) - S(x,y), destY = S(x,y-1) - S(x-1,y).
void roberts(const Image* src, Image32* destX, Image32* destY);
// Roberts cross at the windows whose bottom-right pixel is (X*stepX, r*stepY);
// output size is destX's w x h; destY must hold as many pixels. Needs steps
// >= 1 and every sample inside the source (checked).
void robertsSkip(const Image* src, Image32* destX, Image32* destY, int32_t stepX, int32_t stepY);
// Backward differences: destX = S(x,y) - S(x-1,y), destY = S(x,y) - S(x,y-1).
void gradient(const Image* src, Image32* destX, Image32* destY);

// ---------------------------------------------------------------------------
// Pixel-wise arithmetic. The element count n is (int32)w * (int32)h of src1;
// nothing is written when n <= 0. src2 and dest must hold n elements (checked).
// The destination may be one of the sources where the pixel types agree.

void addSquares(const Image* src1, const Image* src2, Image32* dest);
void addSquares32(const Image32* src1, const Image32* src2, Image32* dest);  // wraps in 32 bits
void multiply(const Image32* src1, const Image32* src2, Image32* dest);     // wraps in 32 bits
void divide(const Image32* src1, const Image32* src2, ImageDouble* dest);   // IEEE division
void divideDouble(const ImageDouble* src1, const ImageDouble* src2, ImageDouble* dest);
// dest(x, y) = 1 when src[y*src->w + x] == src[y*src->w + x + shift], else 0,
// over dest's w x h. Every index read must lie inside src (checked).
void compareShifted(const Image* src, Image* dest, int32_t shift);

// ---------------------------------------------------------------------------
// Run counting. A run is a sequence of pixels strictly above threshold; it
// counts once in its cell when its length reaches minRunLength. dest's w x h
// is the cell grid of blockWidth x blockHeight cells; the grid must lie
// inside src (checked). Both return 0.

// Runs along rows, restarted at every cell's left edge.
int32_t countSeqsH(const Image32* src, Image32* dest, uint64_t blockWidth, uint64_t blockHeight,
                   int32_t minRunLength, double threshold);
// Runs down columns, never continued into the next cell row. runLengths holds
// one counter per source column (dest->w * blockWidth elements, 0 on entry and
// on return).
int32_t countSeqsV(const Image32* src, Image32* dest, Image32* runLengths, uint64_t blockWidth,
                   uint64_t blockHeight, int32_t minRunLength, double threshold);
// The picture as one flat sequence walked with a 32-bit signed index (integer
// comparison with threshold); a run's end search looks no further than w (the
// first row), and the pixel that ends a run counts in its length. Returns the
// number of runs of at least minRunLength. The ignored arguments carry nothing.
int32_t tempCountSeqsH(const Image32* src, int32_t ignored1, int32_t threshold, int32_t ignored2,
                       int32_t ignored3, int32_t minRunLength);
// Number of maximal runs of pixels strictly above threshold along each row
// (any length from 1, rows never joined); 0 for a picture with no pixels.
int32_t tempCountSeqsH2(const Image32* src, int32_t ignored, int32_t threshold);

// ---------------------------------------------------------------------------
// Block statistics. The grid is the w x h of the sums picture; sums and
// square sums are added into (callers pass zero-filled pictures); the
// deviations (divisor n - 1) are written to stdDevs, which holds C x R values.

void calculateStdDevs(const Image* src, Image32* sums, Image32* squareSums, ImageDouble* stdDevs,
                      uint64_t bw, uint64_t bh);
// Correlates the kernel with N blocks of bw x bh side by side along the top of
// src, writing only pixels whose window lies inside their block. Returns 0, or
// -1 with a message when the sizes do not fit.
int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw,
               uint32_t bh);
// The same, with its messages sent to the given sink instead of standard output.
int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, int32_t N, uint32_t bw, uint32_t bh,
               const MessageSink& messages);
// Block deviations over each block's inner area, leaving out a border of
// kernel->w / 2 pixels. A kernel that is not square: a message, no output.
void calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                       ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw,
                                       uint64_t bh);
void calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squareSums,
                                       ImageDouble* stdDevs, const ImageDouble* kernel, uint64_t bw, uint64_t bh,
                                       const MessageSink& messages);

// ---------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------
// Sobel and absolute gradient. Both destinations must have the source's w
// and h (checked); every destination pixel is written.

// Sobel responses Gx (right minus left), Gy (bottom minus top), 0 on the
// one-pixel border; returns the root of the summed Gx^2 + Gy^2 (0.0 if none).
double sobel(const Image* src, Image32* destX, Image32* destY);
// The same responses, only their low 8 bits stored (-4 as 252); returns the
// sum of sqrt(X^2 + Y^2) of the stored values, truncated after every addition.
int32_t sobel2(const Image* src, Image* destX, Image* destY);
// |S(x,y) - S(x-1,y)| into destX and |S(x,y) - S(x,y-1)| into destY; row 0
// and column 0 are 0, the last row and column are computed.
void absGradient(const Image* src, Image32* destX, Image32* destY);

// ---------------------------------------------------------------------------
// Type conversions: pixel k of src to pixel k of dest, for the w x h pixels of
// src. The pixel counts must agree (checked), not the shapes.

// 0..255 widened to int32.
void convU8toI32(const Image* src, Image32* dest);
// The low 8 bits of each value (value mod 256), no clamping.
void convI32toU8(const Image32* src, Image* dest);
// IEEE square root of each value (a negative value gives NaN).
void imageSqrt(const ImageDouble* src, ImageDouble* dest);

// ---------------------------------------------------------------------------
// Operators behind the activity and flickering indicators.

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
