// The indicators composed literally from the toolkit operators, step by step
// as their algorithms describe them: full-size scratch pictures allocated and
// released on every call. They define the values; the indicators of the
// frame loop (src/indicators) are fast versions tested against them bit for
// bit, and the lumaqcReference executable runs them in the same driver.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "common/constants.hpp"
#include "tools/pictures.hpp"
#include "tools/messages.hpp"

namespace lumaqc {

namespace reference {

double blockiness(const Image* img);
double letterbox(const Image* img);
double pillarbox(const Image* img);
double barTop(const Image* img);
double barBottom(const Image* img);
double barLeft(const Image* img);
double barRight(const Image* img);
double combing(const Image* img);
double fieldOrder(const Image* cur, const Image* prev);
double spatialActivity(const Image* img);
double blockLoss(const Image* img);
double blur(const Image* img);
double exposure(const Image* img);
double interlace(const Image* img);
double noise(const Image* img, const MessageSink& messages);
double slice(const Image* img);
uint8_t blackout(const Image* img);
double brightestBlock(const Image* img);
double contrastRMS(const Image* img);
double temporalActivity(const Image* cur, const Image* prev);
double blockDifference(const Image* cur, const Image* prev);
double lumaMin(const Image* img);
double lumaLow(const Image* img);
double lumaAvg(const Image* img);
double lumaHigh(const Image* img);
double lumaMax(const Image* img);
double belowRange(const Image* img, const LumaRange& range);
// The flash screening of the next picture of a stream at fps, given the
// stream's history so far (kept in history for the next call).
struct FlashHistory {
    std::deque<std::vector<uint8_t>> codes;  // rounded 8 x 8 block means of the last frames, oldest first
    std::deque<uint8_t> flags;               // per frame: bit 0 brightening, bit 1 darkening over the area
};
FlashValues flashes(const Image* cur, FlashHistory& history, double fps);
double aboveRange(const Image* img, const LumaRange& range);
// freezingTemp: the stream's count of consecutive frozen frames.
uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps, int32_t& freezingTemp);
// frameCount: the stream's position in the reporting period.
double flickering(const Image* cur, const Image* prev, Image* counts, Image* states, int32_t& frameCount);

}  // namespace reference

}  // namespace lumaqc
