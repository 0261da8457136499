// Picture descriptors for 8-bit, 32-bit and double pictures, and their
// allocation and release.
//
// Conventions of the toolkit (src/tools)
// - A descriptor is a small value; copies share the pixel buffer. Whoever
//   allocated the buffer releases it once with the matching free operation.
// - Pixel (x, y) is data[y * w + x]; rows follow each other without padding.
// - Operators never allocate (the constructors aside): the caller sizes and
//   owns every destination. Operators that accumulate (blockSums, the run
//   counters, the block statistics) add onto what the destination holds, so
//   callers pass zero-filled destinations.
#pragma once

#include <cstddef>
#include <cstdint>

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

// calloc*: calloc, every pixel zero. free*: frees the pixel buffer only (a
// null buffer is fine); the descriptor must not be used afterwards.
Image callocImage(uint64_t w, uint64_t h);
Image32 callocImage32(uint64_t w, uint64_t h);
ImageDouble callocImageDouble(uint64_t w, uint64_t h);
void freeImage(Image* img);
void freeImage32(Image32* img);
void freeImageDouble(ImageDouble* img);

// Bytes of w x h elements of elementSize; SIZE_MAX when that does not fit
// size_t (such a picture cannot be allocated).
size_t pictureBytes(uint64_t w, uint64_t h, size_t elementSize);

}  // namespace lumaqc
