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

// A decoded frame in colour scaled to toWidth x toHeight as packed 4:2:0
// full-range planes (see pictureBytes); false when it has no colour (raw, Y4M
// and grey inputs give their luma only) or cannot be scaled.
bool scaleColour(const ReadResult& frame, int32_t toWidth, int32_t toHeight, uint8_t* to);

// Bytes of a packed 4:2:0 picture: the luma, then each chroma plane of
// (width + 1) / 2 x (height + 1) / 2.
inline size_t pictureBytes(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) +
           2 * static_cast<size_t>((width + 1) / 2) * static_cast<size_t>((height + 1) / 2);
}

// The JPEG bytes of a packed picture (colour: with its chroma planes, else its
// luma alone, as grey levels), empty when it cannot be made.
std::string jpegOfPicture(const uint8_t* picture, bool colour, int32_t width, int32_t height);

}  // namespace lumaqc::io
