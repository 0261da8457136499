#include "tools/gradients.hpp"

#include "tools/derivativeWalk.hpp"
#include "tools/sizeChecks.hpp"

namespace lumaqc {

SizeCheck roberts(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_CHECK(src->h == destX->h && src->w == destX->w, kDestXMatches, "roberts");
    TOOLKIT_CHECK(src->h == destY->h && src->w == destY->w, kDestYMatches, "roberts");
    rowPairWalk(src, destX, destY, [](const uint8_t* above, const uint8_t* row, uint64_t x, int32_t* dx, int32_t* dy) {
        dx[x] = static_cast<int32_t>(above[x - 1]) - row[x];
        dy[x] = static_cast<int32_t>(above[x]) - row[x - 1];
    });
    return {};
}

SizeCheck robertsSkip(const Image* src, Image32* destX, Image32* destY, int32_t stepX, int32_t stepY) {
    const uint64_t outW = destX->w;
    const uint32_t outH = static_cast<uint32_t>(destX->h);
    TOOLKIT_CHECK(stepX >= 1 && stepY >= 1, "stepX >= 1 && stepY >= 1", "robertsSkip");
    TOOLKIT_CHECK(destY->w * destY->h >= destX->w * destX->h, "destY->w * destY->h >= destX->w * destX->h",
                  "robertsSkip");
    if (outW == 0 || outH == 0) return {};
    TOOLKIT_CHECK(outW < 2 || outH < 2 ||
                      ((outW - 1) * static_cast<uint64_t>(stepX) < src->w &&
                       static_cast<uint64_t>(outH - 1) * static_cast<uint64_t>(stepY) < src->h),
                  "(destX->w - 1) * stepX < src->w && (destX->h - 1) * stepY < src->h", "robertsSkip");
    const uint64_t stride = src->w;
    for (uint64_t x = 0; x < outW; ++x) destX->data[x] = destY->data[x] = 0;
    for (uint32_t r = 1; r < outH; ++r) {
        const uint64_t y = static_cast<uint64_t>(r) * static_cast<uint64_t>(stepY);
        const uint8_t* above = src->data + (y - 1) * stride;
        const uint8_t* row = src->data + y * stride;
        int32_t* dx = destX->data + r * outW;
        int32_t* dy = destY->data + r * outW;
        dx[0] = dy[0] = 0;
        for (uint64_t X = 1; X < outW; ++X) {
            const uint64_t x = X * static_cast<uint64_t>(stepX);
            dx[X] = static_cast<int32_t>(above[x - 1]) - row[x];
            dy[X] = static_cast<int32_t>(above[x]) - row[x - 1];
        }
    }
    return {};
}

SizeCheck gradient(const Image* src, Image32* destX, Image32* destY) {
    TOOLKIT_CHECK(src->h == destX->h && src->w == destX->w, kDestXMatches, "gradient");
    TOOLKIT_CHECK(src->h == destY->h && src->w == destY->w, kDestYMatches, "gradient");
    rowPairWalk(src, destX, destY, [](const uint8_t* above, const uint8_t* row, uint64_t x, int32_t* dx, int32_t* dy) {
        dx[x] = static_cast<int32_t>(row[x]) - row[x - 1];
        dy[x] = static_cast<int32_t>(row[x]) - above[x];
    });
    return {};
}

}  // namespace lumaqc
