// The command line: nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]
#pragma once

#include <cstdint>
#include <string>

namespace lumaqc {

struct Arguments {
    const char* videoPath = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    double fps = 25.0;
    bool framesFromFile = true;  // NumberOfFrames absent: every whole frame of the file
    int32_t frames = 0;          // valid when !framesFromFile
    int32_t startFrame = 0;
};

enum class ParseStatus { Ok, TooFewArguments };

// Converts the arguments as the command line has always done: base-10
// strtol truncated to 32 bits, strtod for the frame rate, nothing validated.
ParseStatus parseArguments(int argc, char** argv, Arguments* out);

// The two usage lines written when fewer than three arguments are given;
// a null programName (a program started without argv[0]) reads "lumaqc".
std::string usageText(const char* programName);

// Checks the sizes and the start frame the analysis can work with; returns an
// empty string when they are fine, else a one-line message naming the argument.
std::string checkArguments(const Arguments& args);

// Luma bytes per frame and distance between frame starts (w * h * 3 / 2).
// Valid once checkArguments has passed.
int32_t lumaSize(const Arguments& args);
int32_t frameSize(const Arguments& args);

}  // namespace lumaqc
