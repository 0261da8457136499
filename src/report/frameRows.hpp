// The result columns as the outputs show them: "frame", then the library's
// values (lumaqc_value_info_at) in column order, with their headers, formats,
// "not computed" rules and pooling. The console row, the log row and every
// report format read this table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumaqc/lumaqc.h"

namespace lumaqc {

// One result row as the outputs see it: the absolute frame index in the
// input, its presentation time in seconds (NaN when unknown) and the values.
struct FrameRow {
    int64_t frame = 0;
    double ptsTime = __builtin_nan("");
    lumaqc_result values{};
};

enum class ColumnKind {
    FrameIndex,  // the row's absolute frame index
    Real,        // a double of the result
    Flag,        // a one-byte flag of the result
    Truncated,   // a double shown truncated to a 32-bit integer
};

struct Column {
    const char* name;           // machine name, snake_case
    const char* consoleHeader;  // header text, separator included
    const char* logHeader;
    const char* consoleFormat;  // printf format of the value, separator included
    const char* logFormat;
    ColumnKind kind;
    size_t offset;              // of the value in lumaqc_result (all but FrameIndex)
    int notComputed;            // LUMAQC_NOT_COMPUTED_*
    int32_t minWidth;           // of LUMAQC_NOT_COMPUTED_BELOW_SIZE
    int32_t minHeight;
    int pooling;                // LUMAQC_POOLING_*
    unsigned outputs;           // LUMAQC_OUTPUT_* bits: the console and log rows show only LUMAQC_OUTPUT_ROWS
    int nothingMeasured;        // LUMAQC_NOTHING_MEASURED_*
};

// Every column, "frame" first: the reports show them all.
const std::vector<Column>& columns();

// The value of a column as a double (frame index, flags and truncated values
// included, the latter untruncated).
double columnValue(const Column& column, const FrameRow& row);

// Whether the column's value of this row is "not computed" for pictures of
// width x height.
bool isNotComputed(const Column& column, const FrameRow& row, int32_t width, int32_t height);

// A truncated column shows the value truncated towards zero; not-a-number
// and values outside the 32-bit range show as -2147483648.
int32_t truncatedColumn(double value);

enum class RowStyle { Console, Log };

// The header (console: without its newline, as written with puts; log: the
// 163 bytes, newline included).
const char* headerText(RowStyle style);

// Room for any row: thirteen doubles of at most 316 characters each ("%-5.5f"
// of -1.8e308), the integers and the separators stay well below it.
inline constexpr size_t kRowCapacity = 8192;

// The row in the given style into buffer, NUL-terminated, at most
// capacity - 1 bytes (cut there if longer); returns the bytes before the NUL.
// Allocates nothing.
size_t formatRow(RowStyle style, const FrameRow& row, char* buffer, size_t capacity);

}  // namespace lumaqc
