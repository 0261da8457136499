// Statistics of each result column over the frames of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/frameRows.hpp"

namespace lumaqc::report {

// Pooled statistics of one column. Every field but count is NaN when no frame
// had a value (count 0).
struct PooledStats {
    double min = __builtin_nan("");
    double max = __builtin_nan("");
    double mean = __builtin_nan("");
    double harmonicMean = __builtin_nan("");
    double p1 = __builtin_nan("");
    double p5 = __builtin_nan("");
    double p50 = __builtin_nan("");
    double p95 = __builtin_nan("");
    double p99 = __builtin_nan("");
    int64_t count = 0;
    int64_t excluded = 0;  // frames left out: null, or nothing measured (see LUMAQC_NOTHING_MEASURED_ZERO)
};

// The names of the statistics, as JSON keys and gate names, in this order.
inline constexpr const char* kStatNames[] = {"min", "max", "mean", "harmonic_mean", "p1",   "p5",
                                             "p50", "p95", "p99",  "count",         "excluded"};
// The statistics that are whole numbers of frames: count and excluded, the last two.
inline constexpr size_t kFirstFrameCountStat = 9;
inline constexpr size_t kStatCount = sizeof kStatNames / sizeof kStatNames[0];

// The statistic of that index (as in kStatNames), count as a double.
double statValue(const PooledStats& stats, size_t statIndex);

// Percentile p (0..100) of values sorted ascending, by linear interpolation
// between the closest ranks (numpy's default): h = (n - 1) p / 100, the result
// lies between the values of ranks floor(h) and floor(h) + 1. NaN for none.
double percentileOfSorted(const std::vector<double>& sorted, double p);

// Statistics of values: the mean is the sum in the given order divided by the
// count; the harmonic mean is count / sum(1 / x) when no value is negative
// (0 when one is 0) and NaN when one is negative.
PooledStats poolValues(std::vector<double> values);

// One pooled column: its index in columns() and its statistics.
struct PooledColumn {
    size_t column = 0;
    PooledStats stats;
};

// Collects the values of every column that pools (all but "frame"),
// leaving out and counting the nulls of the report formats (not computed,
// NaN and +-inf) and the frames where the indicator found nothing to measure.
// Stores each value (8 bytes per column and frame) until pooled.
class Pool {
public:
    Pool(int32_t width, int32_t height);
    void add(const FrameRow& row);
    // Statistics of every column that pools, in columns() order.
    std::vector<PooledColumn> pooled() const;

private:
    int32_t width_;
    int32_t height_;
    std::vector<std::vector<double>> values_;  // per columns() index (frame's stays empty)
    std::vector<int64_t> excluded_;            // per columns() index
};

// Whether the report formats write this column value of the row as null.
bool isNullValue(const Column& column, const FrameRow& row, int32_t width, int32_t height);

// Whether the row's value of the column stays out of the pooled statistics:
// null, or a value that says nothing was there to measure.
bool isLeftOutOfPooling(const Column& column, const FrameRow& row, int32_t width, int32_t height);

// {"blockiness": {"min": ..., ..., "count": N}, ...}
std::string pooledJson(const std::vector<PooledColumn>& pooled);

// The console table of the pooled statistics, one line per column.
std::string pooledText(const std::vector<PooledColumn>& pooled);

}  // namespace lumaqc::report
