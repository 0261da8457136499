#include "lib/columns.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace lumaqc {

#define LUMAQC_VALUE(field) offsetof(lumaqc_result, field)

// Console and log differ only in their separators and in the blur width.
const std::array<Column, kColumnCount> kColumns = {{
    {"frame", "Frame: \t", "Frame: \t", "%05" PRId64 " \t", "%05" PRId64 " \t", ColumnKind::FrameIndex, 0,
     NotComputed::Never},
    {"blockiness", "Blockiness: \t", "Blockiness: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(blockiness), NotComputed::Never},
    {"spatial_activity", "Spatial Activity: \t", "SA: \t", "%-5.5f \t\t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(spatial_activity), NotComputed::Never},
    {"letterbox", "Letterbox: \t", "Letterbox: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(letterbox), NotComputed::Never},
    {"pillarbox", "Pillarbox: \t", "Pillarbox: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(pillarbox), NotComputed::Never},
    {"block_loss", "Blockloss: \t", "Blockloss: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(block_loss), NotComputed::BelowBlockLossSize},
    {"blur", "Blur: \t\t", "Blur: \t", "%-7.3f \t", "%-5.3f \t", ColumnKind::Real, LUMAQC_VALUE(blur),
     NotComputed::Never},
    {"temporal_activity", "TemporalAct: \t", "TA: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(temporal_activity), NotComputed::FirstFrame},
    {"blackout", "Blackout: \t", "Blackout: \t", "%-d \t\t", "%-d \t", ColumnKind::Flag, LUMAQC_VALUE(blackout),
     NotComputed::Never},
    {"freezing", "Freezing: \t", "Freezing: \t", "%-d \t\t", "%-d \t", ColumnKind::Flag, LUMAQC_VALUE(freezing),
     NotComputed::FirstFrame},
    {"exposure", "Exposure(bri): \t", "Exposure(bri): \t", "%-6i \t\t", "%-6i \t", ColumnKind::Exposure,
     LUMAQC_VALUE(exposure), NotComputed::Never},
    {"contrast", "Contrast: \t", "Contrast: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(contrast), NotComputed::Never},
    {"interlace", "Interlace: \t", "Interlace: \t", "%-5.5f \t", "%-5.5f \t", ColumnKind::Real,
     LUMAQC_VALUE(interlace), NotComputed::Never},
    {"noise", "Noise: \t\t", "Noise: \t", "%-8.4f \t", "%-8.4f \t", ColumnKind::Real, LUMAQC_VALUE(noise),
     NotComputed::Never},
    {"slice", "Slice: \t\t", "Slice: \t", "%-7.3f \t", "%-7.3f \t", ColumnKind::Real, LUMAQC_VALUE(slice),
     NotComputed::BelowSliceHeight},
    {"flickering", "Flickering:", "Flickering:\n", "%-5.5f\n", "%-5.5f\n", ColumnKind::Real,
     LUMAQC_VALUE(flickering), NotComputed::FirstFrameOrMinusOne},
}};

#undef LUMAQC_VALUE

static double realAt(const lumaqc_result& r, size_t offset) {
    double v;
    std::memcpy(&v, reinterpret_cast<const char*>(&r) + offset, sizeof v);
    return v;
}

static uint8_t flagAt(const lumaqc_result& r, size_t offset) {
    return static_cast<uint8_t>(reinterpret_cast<const char*>(&r)[offset]);
}

double columnValue(const Column& column, const FrameRow& row) {
    switch (column.kind) {
        case ColumnKind::FrameIndex: return static_cast<double>(row.frame);
        case ColumnKind::Flag: return static_cast<double>(flagAt(row.values, column.offset));
        case ColumnKind::Real:
        case ColumnKind::Exposure: return realAt(row.values, column.offset);
    }
    return 0.0;
}

bool isNotComputed(const Column& column, const FrameRow& row, int32_t width, int32_t height) {
    switch (column.notComputed) {
        case NotComputed::Never: return false;
        case NotComputed::FirstFrame: return row.values.has_previous == 0;
        case NotComputed::FirstFrameOrMinusOne:
            return row.values.has_previous == 0 || realAt(row.values, column.offset) == -1.0;
        case NotComputed::BelowBlockLossSize: return width < 256 || height < 256;
        case NotComputed::BelowSliceHeight: return height < 48;
    }
    return false;
}

int32_t exposureColumn(double exposure) {
    if (!(exposure > -2147483649.0 && exposure < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(exposure);
}

static std::array<char, 256> joinedHeader(RowStyle style) {
    std::array<char, 256> text{};
    for (const Column& c : kColumns)
        std::strncat(text.data(), style == RowStyle::Console ? c.consoleHeader : c.logHeader,
                     text.size() - 1 - std::strlen(text.data()));
    return text;
}

const char* headerText(RowStyle style) {
    static const std::array<char, 256> console = joinedHeader(RowStyle::Console);
    static const std::array<char, 256> log = joinedHeader(RowStyle::Log);
    return style == RowStyle::Console ? console.data() : log.data();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
size_t formatRow(RowStyle style, const FrameRow& row, char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    size_t used = 0;
    buffer[0] = '\0';
    for (const Column& c : kColumns) {
        const char* fmt = style == RowStyle::Console ? c.consoleFormat : c.logFormat;
        const size_t room = capacity - used;
        int n = 0;
        switch (c.kind) {
            case ColumnKind::FrameIndex: n = std::snprintf(buffer + used, room, fmt, row.frame); break;
            case ColumnKind::Flag:
                n = std::snprintf(buffer + used, room, fmt, static_cast<int>(flagAt(row.values, c.offset)));
                break;
            case ColumnKind::Exposure:
                n = std::snprintf(buffer + used, room, fmt, exposureColumn(realAt(row.values, c.offset)));
                break;
            case ColumnKind::Real: n = std::snprintf(buffer + used, room, fmt, realAt(row.values, c.offset)); break;
        }
        if (n < 0) return used;
        if (static_cast<size_t>(n) >= room) return capacity - 1;
        used += static_cast<size_t>(n);
    }
    return used;
}
#pragma GCC diagnostic pop

}  // namespace lumaqc
