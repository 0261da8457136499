// Console and log text of the command line: file name, headers, rows,
// information lines, timing report. The columns come from the one table.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"

namespace lumaqc {

extern const char* const kLogFileName;  // "metricsResultsCSV.csv"

// printf into a string, from arguments or from a va_list (which it uses up).
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...);
std::string formatList(const char* pattern, va_list args);

// One message line on an error stream, printf-like without the line's end:
// control characters and bytes that are not UTF-8 (from file names, mostly)
// are escaped so the line stays one line and cannot steer the terminal.
__attribute__((format(printf, 2, 3))) void errorLine(std::FILE* stream, const char* pattern, ...);

// The count shows as "unknown" when not countKnown (a stream read to its end).
std::string infoLines(const char* videoPath, int32_t width, int32_t height, double fps, int32_t frames,
                      int32_t startFrame, bool countKnown = true);

// The console row and the log row of one frame (see formatRow).
inline size_t consoleRow(const FrameRow& row, char* buffer, size_t capacity) {
    return formatRow(RowStyle::Console, row, buffer, capacity);
}
inline size_t logRow(const FrameRow& row, char* buffer, size_t capacity) {
    return formatRow(RowStyle::Log, row, buffer, capacity);
}

// The report printed after the last frame; frames is the number of frames
// the averages are taken over, times the indicators' processor seconds.
std::string timingReport(clock_t start, clock_t end, int32_t frames, const lumaqc_times& times);

}  // namespace lumaqc
