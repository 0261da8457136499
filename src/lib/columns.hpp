// The sixteen result columns, listed once: machine name, console and log
// headers, console and log formats, and when a value counts as "not computed".
// The console row, the log row and every report format read this table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
    Exposure,    // a double shown truncated to a 32-bit integer
};

// When a column's value carries no measurement (null in JSON, empty in CSV).
enum class NotComputed {
    Never,
    FirstFrame,             // frame-to-frame indicators before a previous picture exists
    FirstFrameOrMinusOne,   // flickering: also -1 on the calls that do not report
    BelowBlockLossSize,     // -1 below 256 x 256
    BelowSliceHeight,       // -1 below 48 rows
};

struct Column {
    const char* name;           // machine name, snake_case
    const char* consoleHeader;  // header text, separator included
    const char* logHeader;
    const char* consoleFormat;  // printf format of the value, separator included
    const char* logFormat;
    ColumnKind kind;
    size_t offset;              // of the value in lumaqc_result (Real, Flag, Exposure)
    NotComputed notComputed;
};

inline constexpr size_t kColumnCount = LUMAQC_COLUMN_COUNT;
extern const std::array<Column, kColumnCount> kColumns;

// The value of a column as a double (frame index, flags and exposure
// included, exposure untruncated).
double columnValue(const Column& column, const FrameRow& row);

// Whether the column's value of this row is "not computed" for pictures of
// width x height.
bool isNotComputed(const Column& column, const FrameRow& row, int32_t width, int32_t height);

// The exposure column shows the value truncated towards zero; not-a-number
// and values outside the 32-bit range show as -2147483648.
int32_t exposureColumn(double exposure);

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
