// Synthetic result rows for the HTML report's tests, and what the page must
// make of them: per indicator the count, sum, min and max of the values that
// are plotted (single precision, no "not computed" or non-finite value).
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "report/frameRows.hpp"

namespace lumaqc::test {

// Varied values: waves of several periods, flags in runs, flickering reporting
// every eighth frame, and (with degenerate) NaN and infinities here and there.
inline std::vector<FrameRow> syntheticRows(int count, int64_t firstFrame, bool degenerate) {
    std::vector<FrameRow> rows(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        FrameRow& row = rows[static_cast<size_t>(i)];
        lumaqc_result& v = row.values;
        const double t = i;
        row.frame = firstFrame + i;
        row.ptsTime = (firstFrame + i) / 25.0;
        v.frame = i;
        v.has_previous = i > 0;
        v.blockiness = 1.0 + 0.2 * std::sin(t / 37.0);
        v.spatial_activity = 40.0 + 30.0 * std::sin(t / 101.0) + (i % 7);
        v.letterbox = (i / 500) % 2 ? 0.125 : 0.0;
        v.pillarbox = (i / 300) % 3 == 1 ? 0.0625 : 0.0;
        v.block_loss = 0.001 * (i % 13);
        v.blur = 1.5 + std::cos(t / 53.0);
        v.temporal_activity = i > 0 ? 5.0 + 4.0 * std::sin(t / 11.0) : 0.0;
        v.blackout = (i / 40) % 5 == 2;
        v.freezing = (i / 70) % 4 == 3;
        v.exposure = 100.0 + (i % 120);
        v.contrast = 50.0 + 0.01 * i;
        v.interlace = (i / 90) % 6 == 5 ? 0.8 : 0.001 * (i % 3);
        v.noise = 2.0 + 1e-7 * i;
        v.slice = 1.0 / (1.0 + i);
        v.flickering = i > 0 && i % 8 == 0 ? 0.03 * ((i / 8) % 9) : -1.0;
        if (degenerate && i % 97 == 5) v.contrast = std::numeric_limits<double>::quiet_NaN();
        if (degenerate && i % 89 == 6) v.noise = std::numeric_limits<double>::infinity();
        if (degenerate && i % 83 == 7) v.blur = -std::numeric_limits<double>::infinity();
    }
    return rows;
}

struct Plotted {
    int64_t points = 0;
    double sum = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// Rows in buckets of `bucket`: points counts the buckets with a value, sum
// adds up each bucket's least value, min and max are over all of them.
inline std::map<std::string, Plotted> plottedValues(const std::vector<FrameRow>& rows, int32_t width,
                                                    int32_t height, size_t bucket = 1) {
    std::map<std::string, Plotted> plotted;
    for (const Column& column : columns()) {
        if (column.kind == ColumnKind::FrameIndex) continue;
        Plotted& p = plotted[column.name];
        for (size_t first = 0; first < rows.size(); first += bucket) {
            std::vector<double> shown;
            for (size_t i = first; i < rows.size() && i < first + bucket; ++i) {
                const double value = columnValue(column, rows[i]);
                if (isNotComputed(column, rows[i], width, height) || !std::isfinite(value)) continue;
                shown.push_back(static_cast<float>(value));
            }
            if (shown.empty()) continue;
            const double least = *std::min_element(shown.begin(), shown.end());
            const double greatest = *std::max_element(shown.begin(), shown.end());
            p.min = p.points == 0 || least < p.min ? least : p.min;
            p.max = p.points == 0 || greatest > p.max ? greatest : p.max;
            p.sum += least;
            ++p.points;
        }
    }
    return plotted;
}

}  // namespace lumaqc::test
