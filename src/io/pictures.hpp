// Small pictures of frames for the review page: scaling and JPEG encoding
// through FFmpeg's libraries (the libav module, loaded on first use).
#pragma once

#include <cstdint>
#include <string>

#include "io/reader.hpp"

namespace lumaqc::io {

// Whether pictures can be scaled and encoded; else false with the reason in *why.
bool picturesAvailable(std::string* why);

// from scaled to toWidth x toHeight (stride toWidth) into to, by area averaging.
bool scaleLuma(const Plane& from, int32_t toWidth, int32_t toHeight, uint8_t* to);

// The JPEG bytes of a luma picture (stride width), empty when it cannot be made.
std::string jpegOfLuma(const uint8_t* luma, int32_t width, int32_t height);

}  // namespace lumaqc::io
