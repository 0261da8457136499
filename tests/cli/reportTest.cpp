#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "report.hpp"

using namespace lumaqc;

namespace {
FrameRow sampleRow() {
    FrameRow r;
    r.frame = 42;
    r.values.blockiness = 0.98765432;
    r.values.spatial_activity = 12.5;
    r.values.letterbox = 0.25925925925;
    r.values.pillarbox = 1.0;
    r.values.block_loss = -1.0;
    r.values.blur = 3.14159;
    r.values.temporal_activity = 2.0;
    r.values.blackout = 1;
    r.values.freezing = 0;
    r.values.exposure = 127.9;
    r.values.contrast = 55.123456;
    r.values.interlace = 0.01;
    r.values.noise = 1.23456;
    r.values.slice = 1.5;
    r.values.flickering = -1.0;
    return r;
}

// The rows as the frame loop gets them: written into one buffer of the
// driver's size, the returned length matching the text before the NUL.
std::string consoleText(const FrameRow& r) {
    char buffer[kRowCapacity];
    const size_t length = consoleRow(r, buffer, sizeof buffer);
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
}

std::string logText(const FrameRow& r) {
    char buffer[kRowCapacity];
    const size_t length = logRow(r, buffer, sizeof buffer);
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
}
}  // namespace

TEST(Headers, ExactBytes) {
    EXPECT_EQ(std::strlen(headerText(RowStyle::Log)), 163u);
    EXPECT_STREQ(headerText(RowStyle::Log),
                 "Frame: \tBlockiness: \tSA: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \tTA: \tBlackout: "
                 "\tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: \tSlice: \tFlickering:\n");
    EXPECT_STREQ(kLogFileName, "metricsResultsCSV.csv");
    EXPECT_STREQ(headerText(RowStyle::Console),
                 "Frame: \tBlockiness: \tSpatial Activity: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: "
                 "\t\tTemporalAct: \tBlackout: \tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: "
                 "\t\tSlice: \t\tFlickering:");
}

TEST(Rows, ConsoleAndLogDifferInTabsAndBlurWidth) {
    const FrameRow r = sampleRow();
    EXPECT_EQ(consoleText(r),
              "00042 \t0.98765 \t12.50000 \t\t0.25926 \t1.00000 \t-1.00000 \t3.142   \t2.00000 \t1 \t\t0 \t\t127    "
              "\t\t55.12346 \t0.01000 \t1.2346   \t1.500   \t-1.00000\n");
    EXPECT_EQ(logText(r),
              "00042 \t0.98765 \t12.50000 \t0.25926 \t1.00000 \t-1.00000 \t3.142 \t2.00000 \t1 \t0 \t127    "
              "\t55.12346 \t0.01000 \t1.2346   \t1.500   \t-1.00000\n");
}

TEST(Rows, SpecialValuesPrintAsPrintfWritesThem) {
    FrameRow r = sampleRow();
    const double zero = 0.0;
    r.values.blockiness = std::numeric_limits<double>::infinity();
    r.values.contrast = std::sqrt(-1.0 + zero);  // the NaN of an operation
    r.values.slice = -std::numeric_limits<double>::infinity();
    r.values.exposure = zero / zero;
    const std::string row = logText(r);
    EXPECT_NE(row.find("00042 \tinf   \t"), std::string::npos) << row;
    EXPECT_NE(row.find("\t-nan  \t"), std::string::npos) << row;
    EXPECT_NE(row.find("\t-inf    \t"), std::string::npos) << row;
    EXPECT_NE(row.find("\t-2147483648 \t"), std::string::npos) << row;
}

TEST(Rows, WidestValuesFitTheDriverBufferAndShortBuffersCutTheRow) {
    // Every double at its widest: -1.8e308 prints 309 digits before the point.
    FrameRow r;
    r.frame = INT32_MIN;
    lumaqc_result& v = r.values;
    for (double* d : {&v.blockiness, &v.spatial_activity, &v.letterbox, &v.pillarbox, &v.block_loss, &v.blur,
                      &v.temporal_activity, &v.contrast, &v.interlace, &v.noise, &v.slice, &v.flickering})
        *d = -DBL_MAX;
    v.exposure = -1e300;
    v.blackout = 255;
    v.freezing = 255;
    const std::string console = consoleText(r);
    const std::string log = logText(r);
    // Whole rows: twelve double columns of 314 to 316 characters, ending
    // with the newline, nothing cut.
    for (const std::string* row : {&console, &log}) {
        EXPECT_GT(row->size(), 12u * 314u);
        EXPECT_LT(row->size(), kRowCapacity - 1);
        EXPECT_EQ(row->back(), '\n');
        EXPECT_EQ(row->rfind("-2147483648 \t", 0), 0u);
    }

    // A short buffer keeps the start of the row and its NUL.
    const FrameRow sample = sampleRow();
    char small[10];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(logRow(sample, small, sizeof small), 9u);
    EXPECT_STREQ(small, "00042 \t0.");
    EXPECT_EQ(consoleRow(sample, small, 1), 0u);
    EXPECT_EQ(small[0], '\0');
    small[0] = 'x';
    EXPECT_EQ(consoleRow(sample, small, 0), 0u);
    EXPECT_EQ(small[0], 'x');
}

TEST(Rows, ExposureColumnTruncatesAndMapsOutOfRangeExplicitly) {
    EXPECT_EQ(truncatedColumn(127.9), 127);
    EXPECT_EQ(truncatedColumn(-0.9), 0);
    EXPECT_EQ(truncatedColumn(-2.5), -2);
    EXPECT_EQ(truncatedColumn(2147483647.9), 2147483647);
    EXPECT_EQ(truncatedColumn(-2147483648.9), INT32_MIN);
    EXPECT_EQ(truncatedColumn(2147483648.0), INT32_MIN);
    EXPECT_EQ(truncatedColumn(-1e300), INT32_MIN);
    EXPECT_EQ(truncatedColumn(std::numeric_limits<double>::infinity()), INT32_MIN);
    const double zero = 0.0;
    EXPECT_EQ(truncatedColumn(zero / zero), INT32_MIN);
}

TEST(Info, LinesAndFpsFormat) {
    EXPECT_EQ(infoLines("clip.yuv", 352, 288, 0.0, 60, 0),
              "Video file clip.yuv opened successfully!\n\nWidth = 352, Height = 288, FPS = 0.00, Number of "
              "Frames = 60, Start Frame = 0\n\n");
}

TEST(Timing, SinglePrecisionAveragesOverTheAnalysedFrames) {
    lumaqc_times t{};
    t.seconds[LUMAQC_BLUR] = 3000.0f / 1000000.0f;  // 3000 ticks = 0.003 s
    t.seconds[LUMAQC_FLICKERING] = 1.0f;
    const std::string report = timingReport(0, 2000000, 4, t);
    EXPECT_EQ(report.rfind("Calculation time: \t2.000000 seconds overall \n \t\t\t500.000000 milliseconds per frame"
                           "\n\nAverage calculation time per frame for each metric: \n",
                           0),
              0u)
        << report;
    const float blur = 3000.0f / 1000000.0f / 4.0f * 1000.0f;
    char expect[64];
    std::snprintf(expect, sizeof expect, "\t\tBlur: %02.6f ms \n", static_cast<double>(blur));
    EXPECT_NE(report.find(expect), std::string::npos) << report;
    EXPECT_NE(report.find("\t\tFlickering: 250.000000 ms \tContrast: 0.000000 ms\n"), std::string::npos);
    EXPECT_NE(report.find("\tBlockiness: 0.000000 ms \tSpatialAct: 0.000000 ms \tLetterbox: 0.000000 ms \n"),
              std::string::npos);
}

TEST(Timing, NoFramesDividesByZeroInFloat) {
    lumaqc_times t{};
    const std::string report = timingReport(100, 100, 0, t);
    EXPECT_NE(report.find("0.000000 seconds overall \n \t\t\t-nan milliseconds per frame"), std::string::npos)
        << report;
    EXPECT_NE(report.find("Blockiness: -nan ms"), std::string::npos) << report;
    const std::string later = timingReport(100, 200, 0, t);
    EXPECT_NE(later.find("\t\t\tinf milliseconds per frame"), std::string::npos) << later;
}

// The report from the table of values against the format it has always had.
TEST(Timing, EveryIndicatorInItsPlaceOfTheReport) {
    lumaqc_times t{};
    for (int i = 0; i < LUMAQC_INDICATOR_COUNT; ++i) t.seconds[i] = static_cast<float>(i + 1) / 64.0f;
    auto ms = [&](lumaqc_indicator m) { return static_cast<double>(t.seconds[m] / 2.0f * 1000.0f); };
    char expect[1024];
    std::snprintf(
        expect, sizeof expect,
        "\tBlockiness: %02.6f ms \tSpatialAct: %02.6f ms \tLetterbox: %02.6f ms \n\tPillarbox: %02.6f ms "
        "\t\tBlockLoss: %02.6f ms \t\tBlur: %02.6f ms \n \tExposure: %02.6f ms \t\tInterlace: %02.6f ms "
        "\t\tNoise: %02.6f ms \n \tSlice: %02.6f ms\t\tBlackout: %02.6f ms \t\tTemporal: %02.6f ms \n "
        "\tFreezing : %02.6f ms\t\tFlickering: %02.6f ms \tContrast: %02.6f ms\n",
        ms(LUMAQC_BLOCKINESS), ms(LUMAQC_SPATIAL_ACTIVITY), ms(LUMAQC_LETTERBOX), ms(LUMAQC_PILLARBOX),
        ms(LUMAQC_BLOCK_LOSS), ms(LUMAQC_BLUR), ms(LUMAQC_EXPOSURE), ms(LUMAQC_INTERLACE), ms(LUMAQC_NOISE),
        ms(LUMAQC_SLICE), ms(LUMAQC_BLACKOUT), ms(LUMAQC_TEMPORAL_ACTIVITY), ms(LUMAQC_FREEZING),
        ms(LUMAQC_FLICKERING), ms(LUMAQC_CONTRAST));
    const std::string report = timingReport(0, 1000000, 2, t);
    const std::string head = "Average calculation time per frame for each metric: \n";
    ASSERT_NE(report.find(head), std::string::npos);
    EXPECT_EQ(report.substr(report.find(head) + head.size()), expect);
}
