#include "report/pooling.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/numbers.hpp"

namespace lumaqc::report {

double statValue(const PooledStats& s, size_t statIndex) {
    switch (statIndex) {
        case 0: return s.min;
        case 1: return s.max;
        case 2: return s.mean;
        case 3: return s.harmonicMean;
        case 4: return s.p1;
        case 5: return s.p5;
        case 6: return s.p50;
        case 7: return s.p95;
        case 8: return s.p99;
        case 9: return static_cast<double>(s.count);
        case 10: return static_cast<double>(s.excluded);
    }
    return __builtin_nan("");
}

double percentileOfSorted(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return __builtin_nan("");
    const double h = static_cast<double>(sorted.size() - 1) * p / 100.0;
    const double below = std::floor(h);
    const auto rank = static_cast<size_t>(below);
    if (rank + 1 >= sorted.size()) return sorted.back();
    // std::lerp is exact at both ends and cannot overflow between values of one sign.
    return std::lerp(sorted[rank], sorted[rank + 1], h - below);
}

PooledStats poolValues(std::vector<double> values) {
    PooledStats s;
    s.count = static_cast<int64_t>(values.size());
    if (values.empty()) return s;
    double sum = 0.0;
    double reciprocals = 0.0;
    bool negative = false;
    bool zero = false;
    for (const double v : values) {
        sum += v;
        if (v < 0.0) negative = true;
        else if (v == 0.0) zero = true;
        else reciprocals += 1.0 / v;
    }
    const double n = static_cast<double>(values.size());
    s.mean = sum / n;
    s.harmonicMean = negative ? __builtin_nan("") : zero ? 0.0 : n / reciprocals;
    std::sort(values.begin(), values.end());
    s.min = values.front();
    s.max = values.back();
    s.p1 = percentileOfSorted(values, 1.0);
    s.p5 = percentileOfSorted(values, 5.0);
    s.p50 = percentileOfSorted(values, 50.0);
    s.p95 = percentileOfSorted(values, 95.0);
    s.p99 = percentileOfSorted(values, 99.0);
    return s;
}

bool isNullValue(const Column& column, const FrameRow& row, int32_t width, int32_t height) {
    return isNotComputed(column, row, width, height) || !std::isfinite(columnValue(column, row));
}

bool isLeftOutOfPooling(const Column& column, const FrameRow& row, int32_t width, int32_t height) {
    if (isNullValue(column, row, width, height)) return true;
    return column.nothingMeasured == LUMAQC_NOTHING_MEASURED_ZERO && columnValue(column, row) == 0.0;
}

Pool::Pool(int32_t width, int32_t height)
    : width_(width), height_(height), values_(columns().size()), excluded_(columns().size(), 0) {}

void Pool::add(const FrameRow& row) {
    for (size_t i = 0; i < columns().size(); ++i) {
        const Column& c = columns()[i];
        if (c.pooling != LUMAQC_POOLING_STATISTICS) continue;
        if (isLeftOutOfPooling(c, row, width_, height_)) ++excluded_[i];
        else values_[i].push_back(columnValue(c, row));
    }
}

std::vector<PooledColumn> Pool::pooled() const {
    std::vector<PooledColumn> result;
    for (size_t i = 0; i < columns().size(); ++i) {
        if (columns()[i].pooling != LUMAQC_POOLING_STATISTICS) continue;
        result.push_back({i, poolValues(values_[i])});
        result.back().stats.excluded = excluded_[i];
    }
    return result;
}

std::string pooledJson(const std::vector<PooledColumn>& pooled) {
    std::string out = "{";
    for (size_t k = 0; k < pooled.size(); ++k) {
        if (k > 0) out += ", ";
        appendJsonString(out, columns()[pooled[k].column].name);
        out += ": {";
        for (size_t s = 0; s < kStatCount; ++s) {
            if (s > 0) out += ", ";
            appendJsonString(out, kStatNames[s]);
            out += ": ";
            appendJsonNumber(out, statValue(pooled[k].stats, s));
        }
        out += '}';
    }
    out += '}';
    return out;
}

std::string pooledText(const std::vector<PooledColumn>& pooled) {
    char line[512];
    std::snprintf(line, sizeof line, "%-18s", "Pooled statistics:");
    std::string out = line;
    for (size_t s = 0; s < kStatCount; ++s) {
        std::snprintf(line, sizeof line, " %13s", kStatNames[s]);
        out += line;
    }
    out += '\n';
    for (const PooledColumn& p : pooled) {
        std::snprintf(line, sizeof line, "%-18s", columns()[p.column].name);
        out += line;
        for (size_t s = 0; s < kFirstFrameCountStat; ++s) {
            const double v = statValue(p.stats, s);
            if (std::isnan(v)) std::snprintf(line, sizeof line, " %13s", "-");
            else std::snprintf(line, sizeof line, " %13.6g", v);
            out += line;
        }
        std::snprintf(line, sizeof line, " %13lld %13lld\n", static_cast<long long>(p.stats.count),
                      static_cast<long long>(p.stats.excluded));
        out += line;
    }
    return out;
}

}  // namespace lumaqc::report
