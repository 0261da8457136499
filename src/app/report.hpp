// Text of the console and the result log: headers, rows, timing report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// The values of one result row.
struct FrameRow {
    int32_t frame = 0;
    double blockiness = 0.0;
    double spatialActivity = 0.0;
    double letterbox = 0.0;
    double pillarbox = 0.0;
    double blockLoss = 0.0;
    double blur = 0.0;
    double temporalActivity = 0.0;
    uint8_t blackout = 0;
    uint8_t freezing = 0;
    double exposure = 0.0;
    double contrast = 0.0;
    double interlace = 0.0;
    double noise = 0.0;
    double slice = 0.0;
    double flickering = 0.0;
};

extern const char* const kLogFileName;    // "metricsResultsCSV.csv"
extern const char* const kConsoleHeader;  // written with puts
extern const char* const kLogHeader;      // the 163 bytes, newline included

std::string infoLines(const char* videoPath, int32_t width, int32_t height, double fps, int32_t frames,
                      int32_t startFrame);

// Room for any row: thirteen doubles of at most 316 characters each ("%-5.5f"
// of -1.8e308), five integers and the separators stay well below it.
inline constexpr size_t kRowCapacity = 8192;

// The console row and the log row of one frame, written into buffer as a
// NUL-terminated text of at most capacity - 1 bytes (cut there if longer).
// They return the number of bytes written before the NUL and allocate
// nothing, so the frame loop can reuse one buffer of kRowCapacity bytes.
size_t consoleRow(const FrameRow& row, char* buffer, size_t capacity);
size_t logRow(const FrameRow& row, char* buffer, size_t capacity);

// The exposure column shows the value truncated towards zero; not-a-number
// and values outside the 32-bit range show as -2147483648.
int32_t exposureColumn(double exposure);

// Indicators in the order of their calls within a frame.
enum Metric {
    kBlockiness,
    kSpatialActivity,
    kLetterbox,
    kPillarbox,
    kBlockLoss,
    kBlur,
    kExposure,
    kInterlace,
    kNoise,
    kSlice,
    kBlackout,
    kContrast,
    kTemporalActivity,
    kFreezing,
    kFlickering,
    kMetricCount
};

// Processor time of each indicator, in seconds, single precision.
struct MetricTimes {
    std::array<float, kMetricCount> seconds{};
    void add(Metric m, clock_t before, clock_t after) {
        // The difference is taken in ticks, so long runs keep their resolution.
        seconds[m] += static_cast<float>(after - before) / 1000000.0f;
    }
};

// The report printed after the last frame; frames is the number of frames analysed.
std::string timingReport(clock_t start, clock_t end, int32_t frames, const MetricTimes& times);
