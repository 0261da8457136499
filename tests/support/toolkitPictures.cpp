#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/toolkit.hpp"

namespace lumaqc {

Image makeImage(uint64_t w, uint64_t h, uint8_t* data) { return Image{w, h, data}; }
Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data) { return Image32{w, h, data}; }
ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data) { return ImageDouble{w, h, data}; }

static void* allocPixels(uint64_t w, uint64_t h, size_t elementSize) {
    size_t bytes = pictureBytes(w, h, elementSize);
    if (bytes == SIZE_MAX) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

Image allocImage(uint64_t w, uint64_t h) { return Image{w, h, static_cast<uint8_t*>(allocPixels(w, h, 1))}; }
Image32 allocImage32(uint64_t w, uint64_t h) {
    return Image32{w, h, static_cast<int32_t*>(allocPixels(w, h, sizeof(int32_t)))};
}
ImageDouble allocImageDouble(uint64_t w, uint64_t h) {
    return ImageDouble{w, h, static_cast<double*>(allocPixels(w, h, sizeof(double)))};
}

uint32_t sumPixels(const Image* img) {
    const uint64_t n = img->w * img->h;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < n; ++i) sum += img->data[i];
    return sum;
}

int areEqual(const Image* a, const Image* b) {
    if (a == b) return 1;
    if (a->w != b->w || a->h != b->h) return 0;
    const uint64_t n = a->w * a->h;
    if (a->data == b->data || n == 0) return 1;
    return std::memcmp(a->data, b->data, n) == 0 ? 1 : 0;
}

int32_t sumAndSquareSum(const Image* img, int32_t* sum, int64_t* squareSum) {
    *sum = 0;
    *squareSum = 0;
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(img->w) * static_cast<uint32_t>(img->h));
    if (n <= 0) return 0;
    uint32_t s = 0;  // signed 32-bit wrap-around, computed without overflow
    int64_t q = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t p = img->data[i];
        s += p;
        q += static_cast<int64_t>(p * p);
    }
    *sum = static_cast<int32_t>(s);
    *squareSum = q;
    return *sum;
}

void printRange(const Image* img, int firstCol, int lastCol, int firstRow, int lastRow) {
    const uint8_t* p = img->data;
    for (int64_t r = firstRow; r <= lastRow; ++r) {
        for (int64_t c = firstCol; c <= lastCol; ++c) std::printf("%03i ", *p++);
        std::putchar('\n');
    }
}

void printRange32(const Image32* img, int firstCol, int lastCol, int firstRow, int lastRow) {
    const int32_t* p = img->data;
    for (int64_t r = firstRow; r <= lastRow; ++r) {
        for (int64_t c = firstCol; c <= lastCol; ++c) std::printf("%i  ", *p++);
        std::putchar('\n');
    }
}

}  // namespace lumaqc
