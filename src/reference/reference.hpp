// The indicators composed literally from the toolkit operators, step by step
// as their algorithms describe them: full-size scratch pictures allocated and
// released on every call. They define the values; the indicators of the
// frame loop (src/indicators) are fast versions tested against them bit for
// bit, and the lumaqcReference executable runs them in the same driver.
#pragma once

#include <cstdint>

#include "tools/definitions.hpp"

namespace reference {

double blockiness(const Image* img);
double letterbox(const Image* img);
double pillarbox(const Image* img);
double spatialActivity(const Image* img);
double blockLoss(const Image* img);
double blur(const Image* img);
double exposure(const Image* img);
double interlace(const Image* img);
double noise(const Image* img);
double slice(const Image* img);
uint8_t blackout(const Image* img);
double contrastRMS(const Image* img);
double temporalActivity(const Image* cur, const Image* prev);
uint8_t freezing(uint8_t blackoutFlag, double temporalActivityValue, double fps);
double flickering(const Image* cur, const Image* prev, Image* counts, Image* states);

}  // namespace reference
