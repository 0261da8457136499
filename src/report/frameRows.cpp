#include "report/frameRows.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

namespace lumaqc {

namespace {

ColumnKind kindOf(int kind) {
    switch (kind) {
        case LUMAQC_KIND_FLAG: return ColumnKind::Flag;
        case LUMAQC_KIND_TRUNCATED: return ColumnKind::Truncated;
        default: return ColumnKind::Real;
    }
}

std::vector<Column> tableColumns() {
    // The frame index is the application's: absolute in the input.
    std::vector<Column> table = {{lumaqc_column_name(0), "Frame: \t", "Frame: \t", "%05" PRId64 " \t",
                                  "%05" PRId64 " \t", ColumnKind::FrameIndex, 0, LUMAQC_NOT_COMPUTED_NEVER, 0, 0,
                                  LUMAQC_POOLING_NONE, LUMAQC_OUTPUTS_ALL, LUMAQC_NOTHING_MEASURED_NEVER}};
    for (int i = 0; i < lumaqc_value_count(); ++i) {
        const lumaqc_value_info* v = lumaqc_value_info_at(i);
        // Only the values whose fields this program's lumaqc_result holds.
        if (v->offset + (v->kind == LUMAQC_KIND_FLAG ? 1 : sizeof(double)) > sizeof(lumaqc_result)) break;
        table.push_back({v->name, v->console_header, v->log_header, v->console_format, v->log_format, kindOf(v->kind),
                         v->offset, v->not_computed, v->min_width, v->min_height, v->pooling, v->outputs,
                         v->nothing_measured});
    }
    return table;
}

double realAt(const lumaqc_result& r, size_t offset) {
    double v;
    std::memcpy(&v, reinterpret_cast<const char*>(&r) + offset, sizeof v);
    return v;
}

uint8_t flagAt(const lumaqc_result& r, size_t offset) {
    return static_cast<uint8_t>(reinterpret_cast<const char*>(&r)[offset]);
}

std::string joinedHeader(RowStyle style) {
    std::string text;
    for (const Column& c : columns())
        if ((c.outputs & LUMAQC_OUTPUT_ROWS) != 0) text += style == RowStyle::Console ? c.consoleHeader : c.logHeader;
    return style == RowStyle::Log ? text + "\n" : text;
}

}  // namespace

const std::vector<Column>& columns() {
    static const std::vector<Column> table = tableColumns();
    return table;
}

double columnValue(const Column& column, const FrameRow& row) {
    switch (column.kind) {
        case ColumnKind::FrameIndex: return static_cast<double>(row.frame);
        case ColumnKind::Flag: return static_cast<double>(flagAt(row.values, column.offset));
        case ColumnKind::Real:
        case ColumnKind::Truncated: return realAt(row.values, column.offset);
    }
    return 0.0;
}

bool isNotComputed(const Column& column, const FrameRow& row, int32_t width, int32_t height) {
    switch (column.notComputed) {
        case LUMAQC_NOT_COMPUTED_FIRST_FRAME: return row.values.has_previous == 0;
        case LUMAQC_NOT_COMPUTED_FIRST_FRAME_OR_MINUS_ONE:
            return row.values.has_previous == 0 || columnValue(column, row) == -1.0;
        case LUMAQC_NOT_COMPUTED_BELOW_SIZE: return width < column.minWidth || height < column.minHeight;
        default: return false;
    }
}

int32_t truncatedColumn(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

const char* headerText(RowStyle style) {
    static const std::string console = joinedHeader(RowStyle::Console);
    static const std::string log = joinedHeader(RowStyle::Log);
    return style == RowStyle::Console ? console.c_str() : log.c_str();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
size_t formatRow(RowStyle style, const FrameRow& row, char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    size_t used = 0;
    buffer[0] = '\0';
    for (const Column& c : columns()) {
        if ((c.outputs & LUMAQC_OUTPUT_ROWS) == 0) continue;
        const char* fmt = style == RowStyle::Console ? c.consoleFormat : c.logFormat;
        const size_t room = capacity - used;
        int n = 0;
        switch (c.kind) {
            case ColumnKind::FrameIndex: n = std::snprintf(buffer + used, room, fmt, row.frame); break;
            case ColumnKind::Flag:
                n = std::snprintf(buffer + used, room, fmt, static_cast<int>(flagAt(row.values, c.offset)));
                break;
            case ColumnKind::Truncated:
                n = std::snprintf(buffer + used, room, fmt, truncatedColumn(realAt(row.values, c.offset)));
                break;
            case ColumnKind::Real: n = std::snprintf(buffer + used, room, fmt, realAt(row.values, c.offset)); break;
        }
        if (n < 0) return used;
        if (static_cast<size_t>(n) >= room) return capacity - 1;
        used += static_cast<size_t>(n);
    }
    if (used + 1 >= capacity) return capacity - 1;
    buffer[used++] = '\n';
    buffer[used] = '\0';
    return used;
}
#pragma GCC diagnostic pop

}  // namespace lumaqc
