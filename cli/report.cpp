#include "report.hpp"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "report/numbers.hpp"

namespace lumaqc {

const char* const kLogFileName = "metricsResultsCSV.csv";

std::string formatList(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(text.size() - 1);
    return text;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatList(fmt, args);
    va_end(args);
    return text;
}

void errorLine(std::FILE* stream, const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    const std::string text = formatList(pattern, args);
    va_end(args);
    const std::string line = report::terminalText(text) + "\n";
    std::fputs(line.c_str(), stream);
}

std::string infoLines(const char* videoPath, int32_t width, int32_t height, double fps, int32_t frames,
                      int32_t startFrame, bool countKnown) {
    const std::string count = countKnown ? format("%d", frames) : "unknown";
    return format("Video file %s opened successfully!\n\n", report::terminalText(videoPath).c_str()) +
           format("Width = %d, Height = %d, FPS = %2.2f, Number of Frames = %s, Start Frame = %d\n\n", width,
                  height, fps, count.c_str(), startFrame);
}

std::string timingReport(clock_t start, clock_t end, int32_t frames, const lumaqc_times& times) {
    const float overall = static_cast<float>(end - start) / 1000000.0f;
    const float n = static_cast<float>(frames);
    const float perFrame = overall / n * 1000.0f;

    std::string text = format("Calculation time: \t%f seconds overall \n \t\t\t%f milliseconds per frame",
                              static_cast<double>(overall), static_cast<double>(perFrame));
    text += "\n\nAverage calculation time per frame for each metric: \n";
    // Each value's part, in the report's order.
    std::vector<const lumaqc_value_info*> parts(static_cast<size_t>(lumaqc_value_count()));
    for (int i = 0; i < lumaqc_value_count(); ++i) {
        const lumaqc_value_info* v = lumaqc_value_info_at(i);
        parts[static_cast<size_t>(v->timing_position)] = v;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    for (const lumaqc_value_info* v : parts)
        if ((v->outputs & LUMAQC_OUTPUT_TIMING) != 0 && v->indicator < LUMAQC_INDICATOR_COUNT)
            text += format(v->timing_format, static_cast<double>(times.seconds[v->indicator] / n * 1000.0f));
#pragma GCC diagnostic pop
    text += '\n';
    return text;
}

}  // namespace lumaqc
