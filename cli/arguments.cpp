#include "arguments.hpp"

#include <cstdlib>

namespace lumaqc {

static int32_t toInt32(const char* text) {
    // The long result keeps its low 32 bits.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(std::strtol(text, nullptr, 10))));
}

ParseStatus parseArguments(int argc, char** argv, Arguments* out) {
    const int given = argc - 1;
    if (given < 3) return ParseStatus::TooFewArguments;
    Arguments a;
    a.videoPath = argv[1];
    a.width = toInt32(argv[2]);
    a.height = toInt32(argv[3]);
    if (given >= 4) a.fps = std::strtod(argv[4], nullptr);
    if (given >= 5) {
        a.framesFromFile = false;
        a.frames = toInt32(argv[5]);
    }
    if (given >= 6) a.startFrame = toInt32(argv[6]);
    *out = a;
    return ParseStatus::Ok;
}

std::string usageText(const char* programName) {
    std::string text = "Not enough parameters\n\n";
    text += "Usage : ";
    // A program started with an empty argument vector has no name (argc 0,
    // argv[0] null).
    text += programName != nullptr ? programName : "lumaqc";
    text += " nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
            ", where [***] is optional parameter.\n\n";
    return text;
}

std::string checkArguments(const Arguments& args) {
    if (args.width <= 0) return "Invalid WIDTH " + std::to_string(args.width) + ": it must be a positive integer";
    if (args.height <= 0)
        return "Invalid HEIGHT " + std::to_string(args.height) + ": it must be a positive integer";
    const int64_t tripled = static_cast<int64_t>(args.width) * args.height * 3;
    if (tripled > INT32_MAX)
        return "WIDTH x HEIGHT " + std::to_string(args.width) + " x " + std::to_string(args.height) +
               " is too large: at most 715827882 pixels per frame are supported";
    if (args.startFrame < 0)
        return "Invalid startFrame " + std::to_string(args.startFrame) + ": it must not be negative";
    return {};
}

int32_t lumaSize(const Arguments& args) { return args.width * args.height; }

int32_t frameSize(const Arguments& args) { return args.width * args.height * 3 / 2; }

}  // namespace lumaqc
