// Block loss: long straight runs of strong edges along the 16-pixel block
// grid, horizontal and vertical ones counted per 256 x 256 region; the score
// is the mean over the regions of the product of the two counts.
#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"
#include "tools/gradients.hpp"
#include "tools/pixelwise.hpp"
#include "tools/runCounting.hpp"

namespace lumaqc {

namespace reference {

double blockLoss(const Image* src) {
    const uint32_t W = static_cast<uint32_t>(src->w);
    const uint32_t H = static_cast<uint32_t>(src->h);
    if (W < BLOCKLOSS_REGION || H < BLOCKLOSS_REGION) return -1.0;

    const uint64_t grid = BLOCKLOSS_GRID;
    const uint64_t regionsX = W / BLOCKLOSS_REGION;
    const uint64_t regionsY = H / BLOCKLOSS_REGION;
    Image32 hEdgeX = callocImage32(W, H / grid);
    Image32 hEdgeY = callocImage32(W, H / grid);
    Image32 hEdgeMag = callocImage32(W, H / grid);
    Image32 vEdgeX = callocImage32(W / grid, H);
    Image32 vEdgeY = callocImage32(W / grid, H);
    Image32 vEdgeMag = callocImage32(W / grid, H);
    Image32 edgeX = callocImage32(W, H);
    Image32 edgeY = callocImage32(W, H);
    Image32 edgeMag = callocImage32(W, H);
    Image32 hRuns = callocImage32(regionsX, regionsY);
    Image32 vRuns = callocImage32(regionsX, regionsY);
    Image32 runLengths = callocImage32(W, 1);
    Image32 runProduct = callocImage32(regionsX, regionsY);

    // Roberts cross across the horizontal boundaries, across the vertical
    // ones, and everywhere (the last gives the threshold).
    SizeChecks sized;
    sized += robertsSkip(src, &hEdgeX, &hEdgeY, 1, BLOCKLOSS_GRID);
    sized += robertsSkip(src, &vEdgeX, &vEdgeY, BLOCKLOSS_GRID, 1);
    sized += roberts(src, &edgeX, &edgeY);
    sized += addSquares32(&hEdgeX, &hEdgeY, &hEdgeMag);
    sized += addSquares32(&vEdgeX, &vEdgeY, &vEdgeMag);
    sized += addSquares32(&edgeX, &edgeY, &edgeMag);

    // The mean runs over every position, the zero first row and column included.
    const double area = static_cast<double>(W * H);
    const double threshold = (static_cast<double>(sumPixels32(&edgeMag)) / area) * BLOCKLOSS_THRESHOLD_FACTOR;

    // One cell of hRuns: the 16 horizontal boundaries of a region, along its
    // 256 columns; one cell of vRuns: its 16 vertical boundaries, down its 256 rows.
    sized += countSeqsH(&hEdgeMag, &hRuns, BLOCKLOSS_REGION, grid, BLOCKLOSS_MIN_RUN, threshold);
    sized += countSeqsV(&vEdgeMag, &vRuns, &runLengths, grid, BLOCKLOSS_REGION, BLOCKLOSS_MIN_RUN, threshold);
    sized += multiply(&hRuns, &vRuns, &runProduct);
    const double score =
        static_cast<double>(sumPixels32(&runProduct)) / static_cast<double>(regionsX * regionsY);

    freeImage32(&hEdgeX);
    freeImage32(&hEdgeY);
    freeImage32(&hEdgeMag);
    freeImage32(&vEdgeX);
    freeImage32(&vEdgeY);
    freeImage32(&vEdgeMag);
    freeImage32(&edgeX);
    freeImage32(&edgeY);
    freeImage32(&edgeMag);
    freeImage32(&hRuns);
    freeImage32(&vRuns);
    freeImage32(&runLengths);
    freeImage32(&runProduct);
    // The pictures are sized for their operators: a refused size means "not measured".
    return sized.allOk ? score : -1.0;
}

}  // namespace reference

}  // namespace lumaqc
