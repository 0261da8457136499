// SMPTE timecodes of frame numbers: HH:MM:SS:FF, and HH:MM:SS;FF drop-frame at
// 29.97 and 59.94 frames a second, whose labels skip frames 00 and 01 (00 to 03
// at 59.94) of every minute but each tenth, so that the labels keep to the clock.
#pragma once

#include <cstdint>
#include <string>

namespace lumaqc::report {

struct TimecodeRate {
    int64_t nominal = 25;     // frames per labelled second: the rate rounded
    bool dropFrame = false;   // 30000/1001 and 60000/1001
};

// The timecode rate of a frame rate (a rate that is not a positive number counts as 25).
TimecodeRate timecodeRate(double fps);

// The frame count of a label "HH:MM:SS:FF" (';', '.' or ',' before FF: drop-frame
// where the rate has it), or -1 when it is not one at this rate.
int64_t timecodeFrames(const std::string& text, TimecodeRate rate);

// The label of a frame count (negative counts are 0), wrapping at 24 hours.
std::string timecodeText(int64_t frames, TimecodeRate rate);

}  // namespace lumaqc::report
