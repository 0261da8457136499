#include "tools/pixelwise.hpp"

#include "tools/sizeChecks.hpp"

namespace lumaqc {

SizeCheck addSquares32(const Image32* src1, const Image32* src2, Image32* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return {};
    TOOLKIT_CHECK(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "addSquares32");
    TOOLKIT_CHECK(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "addSquares32");
    const int32_t* a = src1->data;
    const int32_t* b = src2->data;
    int32_t* d = dest->data;
    for (int32_t i = 0; i < n; ++i) {
        // Two's-complement wrap-around: square and add modulo 2^32.
        const uint32_t x = static_cast<uint32_t>(a[i]);
        const uint32_t y = static_cast<uint32_t>(b[i]);
        d[i] = static_cast<int32_t>(x * x + y * y);
    }
    return {};
}

SizeCheck multiply(const Image32* src1, const Image32* src2, Image32* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return {};
    TOOLKIT_CHECK(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "multiply");
    TOOLKIT_CHECK(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "multiply");
    const int32_t* a = src1->data;
    const int32_t* b = src2->data;
    int32_t* d = dest->data;
    for (int32_t i = 0; i < n; ++i)
        d[i] = static_cast<int32_t>(static_cast<uint32_t>(a[i]) * static_cast<uint32_t>(b[i]));
    return {};
}

SizeCheck divideDouble(const ImageDouble* src1, const ImageDouble* src2, ImageDouble* dest) {
    const int32_t n = pixelwiseCount(src1);
    if (n <= 0) return {};
    TOOLKIT_CHECK(pixelwiseHolds(src2, n), "src2->w * src2->h >= n", "divideDouble");
    TOOLKIT_CHECK(pixelwiseHolds(dest, n), "dest->w * dest->h >= n", "divideDouble");
    const double* a = src1->data;
    const double* b = src2->data;
    double* d = dest->data;
    for (int32_t i = 0; i < n; ++i) d[i] = a[i] / b[i];
    return {};
}

SizeCheck compareShifted(const Image* src, Image* dest, int32_t shift) {
    const uint64_t outW = dest->w;
    const uint64_t outH = dest->h;
    if (outW == 0 || outH == 0) return {};
    // The lowest index read is shift itself, the highest the last destination
    // pixel's source position plus shift.
    TOOLKIT_CHECK(shift >= 0, "shift >= 0", "compareShifted");
    TOOLKIT_CHECK((outH - 1) * src->w + outW - 1 + static_cast<uint64_t>(shift) < src->w * src->h,
                  "(dest->h - 1) * src->w + dest->w - 1 + shift < src->w * src->h", "compareShifted");
    const uint64_t stride = src->w;
    const uint64_t offset = static_cast<uint64_t>(shift);
    for (uint64_t y = 0; y < outH; ++y) {
        const uint8_t* s = src->data + y * stride;
        const uint8_t* partner = s + offset;
        uint8_t* d = dest->data + y * outW;
        for (uint64_t x = 0; x < outW; ++x) d[x] = s[x] == partner[x] ? 1 : 0;
    }
    return {};
}

}  // namespace lumaqc
