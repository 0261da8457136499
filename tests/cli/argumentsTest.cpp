#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "analyser.hpp"
#include "arguments.hpp"
#include "lumaqc/lumaqc.h"

using namespace lumaqc;

namespace {
ParseStatus parse(std::vector<const char*> words, Arguments* out) {
    words.insert(words.begin(), "lumaqc");
    return parseArguments(static_cast<int>(words.size()), const_cast<char**>(words.data()), out);
}
}  // namespace

TEST(Arguments, TheCountDecidesWhatIsParsed) {
    Arguments a;
    EXPECT_EQ(parse({"v.yuv", "352"}, &a), ParseStatus::TooFewArguments);

    ASSERT_EQ(parse({"v.yuv", "352", "288"}, &a), ParseStatus::Ok);
    EXPECT_STREQ(a.videoPath, "v.yuv");
    EXPECT_EQ(a.width, 352);
    EXPECT_EQ(a.height, 288);
    EXPECT_EQ(a.fps, 25.0);
    EXPECT_TRUE(a.framesFromFile);
    EXPECT_EQ(a.startFrame, 0);

    ASSERT_EQ(parse({"v.yuv", "352", "288", "29.97"}, &a), ParseStatus::Ok);
    EXPECT_EQ(a.fps, 29.97);
    EXPECT_TRUE(a.framesFromFile);

    ASSERT_EQ(parse({"v.yuv", "352", "288", "50", "7"}, &a), ParseStatus::Ok);
    EXPECT_FALSE(a.framesFromFile);
    EXPECT_EQ(a.frames, 7);
    EXPECT_EQ(a.startFrame, 0);

    ASSERT_EQ(parse({"v.yuv", "352", "288", "50", "3", "10", "ignored"}, &a), ParseStatus::Ok);
    EXPECT_EQ(a.frames, 3);
    EXPECT_EQ(a.startFrame, 10);
}

TEST(Arguments, ConversionsFollowStrtolAndStrtod) {
    Arguments a;
    ASSERT_EQ(parse({"v.yuv", "352px", "0x20", "abc", "-4", "4294967297"}, &a), ParseStatus::Ok);
    EXPECT_EQ(a.width, 352);   // trailing text ignored
    EXPECT_EQ(a.height, 0);    // base 10: "0x20" reads as 0
    EXPECT_EQ(a.fps, 0.0);     // not a number: 0.0
    EXPECT_EQ(a.frames, -4);
    EXPECT_EQ(a.startFrame, 1);  // the long keeps its low 32 bits
}

TEST(Arguments, UsageText) {
    EXPECT_EQ(usageText("./lumaqc"),
              "Not enough parameters\n\nUsage : ./lumaqc nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] "
              "[startFrame]\n, where [***] is optional parameter.\n\n");
}

TEST(Arguments, ChecksNameTheBadArgument) {
    Arguments a;
    a.width = 352;
    a.height = 288;
    EXPECT_EQ(checkArguments(a), "");
    a.width = 0;
    EXPECT_NE(checkArguments(a).find("WIDTH"), std::string::npos);
    a.width = 352;
    a.height = -288;
    EXPECT_NE(checkArguments(a).find("HEIGHT"), std::string::npos);
    a.height = 288;
    a.startFrame = -1;
    EXPECT_NE(checkArguments(a).find("startFrame"), std::string::npos);
    a.startFrame = 0;
    a.width = 46341;
    a.height = 15447;  // w * h * 3 = 2147515641, just beyond the 32-bit range
    EXPECT_NE(checkArguments(a).find("too large"), std::string::npos);
    a.height = 15446;  // 2147349258 fits
    EXPECT_EQ(checkArguments(a), "");
    EXPECT_EQ(frameSize(a), 1073674629);  // 46341 * 15446 * 3 / 2
}

TEST(Arguments, FrameSizeTruncatesOddSizes) {
    Arguments a;
    a.width = 3;
    a.height = 3;
    EXPECT_EQ(lumaSize(a), 9);
    EXPECT_EQ(frameSize(a), 13);
}

TEST(Arguments, OptionsCombineWithThePositionals) {
    struct Case {
        std::vector<const char*> words;
        ParseStatus status;
        const char* path = "";
        bool sizeGiven = false, fpsGiven = false, framesFromFile = true;
        double fps = 25.0;
        int32_t frames = 0, start = 0;
        const char* format = "";
    };
    const Case cases[] = {
        {{"clip.mp4"}, ParseStatus::Ok, "clip.mp4", false, false, true, 25.0, 0, 0, ""},
        {{"--fps", "50", "-", "--frames=9"}, ParseStatus::Ok, "-", false, true, false, 50.0, 9, 0, ""},
        {{"--start", "4", "v.yuv", "8", "6"}, ParseStatus::Ok, "v.yuv", true, false, true, 25.0, 0, 4, ""},
        {{"v.yuv", "8", "6", "30", "2", "7", "--start", "7", "--input-format", "raw"},
         ParseStatus::Ok, "v.yuv", true, true, false, 30.0, 2, 7, "raw"},
        {{"--", "--odd", "8", "6", "-5"}, ParseStatus::Ok, "--odd", true, true, true, -5.0, 0, 0, ""},
        {{"v.yuv", "--help", "--bogus"}, ParseStatus::Help},
        {{"--fps", "25"}, ParseStatus::TooFewArguments},
        {{"v.yuv", "8", "--frames", "3"}, ParseStatus::TooFewArguments},
        {{"v.yuv", "--bogus"}, ParseStatus::BadOption},
        {{"v.yuv", "--fps", "0"}, ParseStatus::BadOption},
        {{"v.yuv", "--fps", "25x"}, ParseStatus::BadOption},
        {{"v.yuv", "--start", "2147483648"}, ParseStatus::BadOption},
        {{"v.yuv", "--frames", "1e3"}, ParseStatus::BadOption},
        {{"v.yuv", "--input-format", "RAW"}, ParseStatus::BadOption},
        {{"v.yuv", "--input-format"}, ParseStatus::BadOption},
        {{"v.yuv", "8", "6", "25", "--fps", "25.5"}, ParseStatus::BadOption},
        {{"v.yuv", "8", "6", "25", "1", "--frames", "2"}, ParseStatus::BadOption},
    };
    for (const Case& c : cases) {
        Arguments a;
        const ParseStatus status = parse(c.words, &a);
        const std::string label = c.words[0] + std::string(" ... (") + std::to_string(c.words.size()) + " words)";
        ASSERT_EQ(status, c.status) << label;
        if (status == ParseStatus::BadOption) {
            EXPECT_FALSE(a.error.empty()) << label;
        }
        if (status != ParseStatus::Ok) continue;
        EXPECT_STREQ(a.videoPath, c.path) << label;
        EXPECT_EQ(a.sizeGiven, c.sizeGiven) << label;
        EXPECT_EQ(a.fpsGiven, c.fpsGiven) << label;
        EXPECT_EQ(a.framesFromFile, c.framesFromFile) << label;
        EXPECT_EQ(a.fps, c.fps) << label;
        if (!c.framesFromFile) {
            EXPECT_EQ(a.frames, c.frames) << label;
        }
        EXPECT_EQ(a.startFrame, c.start) << label;
        EXPECT_EQ(a.inputFormat, c.format) << label;
    }
}

// A program may be started with an empty argument vector (argc 0, argv[0]
// null): the usage then names "lumaqc" instead of reading a null name.
// Found by tests/fuzz/argumentsFuzzer.
TEST(Arguments, TooFewArgumentsPrintTheUsageEvenWithoutAProgramName) {
    struct Case {
        std::vector<const char*> argv;
        const char* shownName;
    };
    const Case cases[] = {{{}, "lumaqc"},
                          {{"./lumaqc"}, "./lumaqc"},
                          {{"/opt/bin/lumaqcReference", "v.yuv", "352"}, "/opt/bin/lumaqcReference"}};
    for (const Case& c : cases) {
        std::vector<const char*> argv = c.argv;
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        const int status =
            runAnalyser(static_cast<int>(c.argv.size()), const_cast<char**>(argv.data()), LUMAQC_INDICATORS_FAST);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, -1) << c.shownName;
        EXPECT_EQ(out, std::string("Not enough parameters\n\nUsage : ") + c.shownName +
                           " nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
                           ", where [***] is optional parameter.\n\n");
    }
}

// The size check multiplies in 64 bits: WIDTH and HEIGHT near 2^31 made
// w * h * 3 overflow even there (found by tests/fuzz/argumentsFuzzer) and
// wrap to a negative number that passed. Every size past 715827882 pixels is
// refused, every one up to it accepted, as the frame size in bytes says.
TEST(Arguments, SizeCheckHoldsUpToTheLargestWidthAndHeight) {
    const std::pair<int32_t, int32_t> sizes[] = {{2147483647, 2147483647}, {2147483647, 2}, {1753413057, 1753413057},
                                                 {46341, 15447},           {46341, 15446}, {715827882, 1},
                                                 {715827883, 1},           {1, 715827882}, {65536, 65536}};
    for (auto [w, h] : sizes) {
        Arguments a;
        a.width = w;
        a.height = h;
        // Independently: the frame's bytes, w * h * 3 / 2, in exact 128-bit arithmetic.
        const __int128 tripled = static_cast<__int128>(w) * h * 3;
        const bool fits = tripled <= INT32_MAX;
        const std::string problem = checkArguments(a);
        EXPECT_EQ(problem.empty(), fits) << w << " x " << h << ": " << problem;
        if (fits) {
            EXPECT_EQ(frameSize(a), static_cast<int32_t>(tripled / 2)) << w << " x " << h;
        } else {
            EXPECT_NE(problem.find("too large"), std::string::npos) << w << " x " << h;
        }
    }
}
