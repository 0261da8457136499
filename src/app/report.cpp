#include "app/report.hpp"

#include <cmath>
#include <cstdarg>
#include <cstdio>

const char* const kLogFileName = "metricsResultsCSV.csv";

const char* const kConsoleHeader =
    "Frame: \tBlockiness: \tSpatial Activity: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \t\tTemporalAct: "
    "\tBlackout: \tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: \t\tSlice: \t\tFlickering:";

const char* const kLogHeader =
    "Frame: \tBlockiness: \tSA: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \tTA: \tBlackout: \tFreezing: "
    "\tExposure(bri): \tContrast: \tInterlace: \tNoise: \tSlice: \tFlickering:\n";

static std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

static std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    va_end(args);
    text.resize(text.size() - 1);
    return text;
}

std::string infoLines(const char* videoPath, int32_t width, int32_t height, double fps, int32_t frames,
                      int32_t startFrame) {
    return format("Video file %s opened successfully!\n\n", videoPath) +
           format("Width = %d, Height = %d, FPS = %2.2f, Number of Frames = %d, Start Frame = %d\n\n", width,
                  height, fps, frames, startFrame);
}

int32_t exposureColumn(double exposure) {
    if (!(exposure > -2147483649.0 && exposure < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(exposure);
}

static size_t formatInto(char* buffer, size_t capacity, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

static size_t formatInto(char* buffer, size_t capacity, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int length = std::vsnprintf(buffer, capacity, fmt, args);
    va_end(args);
    if (capacity == 0) return 0;
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
}

size_t consoleRow(const FrameRow& r, char* buffer, size_t capacity) {
    return formatInto(buffer, capacity,
        "%05i \t%-5.5f \t%-5.5f \t\t%-5.5f \t%-5.5f \t%-5.5f \t%-7.3f \t%-5.5f \t%-d \t\t%-d \t\t%-6i \t\t%-5.5f "
        "\t%-5.5f \t%-8.4f \t%-7.3f \t%-5.5f\n",
        r.frame, r.blockiness, r.spatialActivity, r.letterbox, r.pillarbox, r.blockLoss, r.blur,
        r.temporalActivity, static_cast<int>(r.blackout), static_cast<int>(r.freezing), exposureColumn(r.exposure),
        r.contrast, r.interlace, r.noise, r.slice, r.flickering);
}

size_t logRow(const FrameRow& r, char* buffer, size_t capacity) {
    return formatInto(buffer, capacity,
        "%05i \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.3f \t%-5.5f \t%-d \t%-d \t%-6i \t%-5.5f \t%-5.5f "
        "\t%-8.4f \t%-7.3f \t%-5.5f\n",
        r.frame, r.blockiness, r.spatialActivity, r.letterbox, r.pillarbox, r.blockLoss, r.blur,
        r.temporalActivity, static_cast<int>(r.blackout), static_cast<int>(r.freezing), exposureColumn(r.exposure),
        r.contrast, r.interlace, r.noise, r.slice, r.flickering);
}

std::string timingReport(clock_t start, clock_t end, int32_t frames, const MetricTimes& times) {
    const float overall = static_cast<float>(end - start) / 1000000.0f;
    const float n = static_cast<float>(frames);
    const float perFrame = overall / n * 1000.0f;
    auto average = [&](Metric m) { return static_cast<double>(times.seconds[m] / n * 1000.0f); };

    std::string text = format("Calculation time: \t%f seconds overall \n \t\t\t%f milliseconds per frame",
                              static_cast<double>(overall), static_cast<double>(perFrame));
    text += "\n\nAverage calculation time per frame for each metric: \n";
    text += format(
        "\tBlockiness: %02.6f ms \tSpatialAct: %02.6f ms \tLetterbox: %02.6f ms \n\tPillarbox: %02.6f ms "
        "\t\tBlockLoss: %02.6f ms \t\tBlur: %02.6f ms \n \tExposure: %02.6f ms \t\tInterlace: %02.6f ms "
        "\t\tNoise: %02.6f ms \n \tSlice: %02.6f ms\t\tBlackout: %02.6f ms \t\tTemporal: %02.6f ms \n "
        "\tFreezing : %02.6f ms\t\tFlickering: %02.6f ms \tContrast: %02.6f ms\n",
        average(kBlockiness), average(kSpatialActivity), average(kLetterbox), average(kPillarbox),
        average(kBlockLoss), average(kBlur), average(kExposure), average(kInterlace), average(kNoise),
        average(kSlice), average(kBlackout), average(kTemporalActivity), average(kFreezing), average(kFlickering),
        average(kContrast));
    return text;
}
