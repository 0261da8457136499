// Pooled statistics against a brute-force sort of the values that are not null
// and that measured something.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "report/pooling.hpp"
#include "rows.hpp"

using namespace lumaqc::report;
using namespace reporttest;

namespace {
// numpy's default percentile, written out on a fully sorted copy.
double bruteForcePercentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const double h = static_cast<double>(v.size() - 1) * p / 100.0;
    const size_t lo = static_cast<size_t>(h);
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (h - static_cast<double>(lo)) * (v[hi] - v[lo]);
}
}  // namespace

TEST(Pooling, StatisticsMatchBruteForceOverNonNullValuesThatMeasuredSomething) {
    struct Case {
        uint64_t seed;
        size_t rows;
        int32_t width, height;
    };
    for (const Case& k : {Case{1, 1, 352, 288}, Case{2, 2, 352, 288}, Case{3, 101, 256, 256}, Case{4, 257, 32, 32},
                          Case{5, 0, 352, 288}}) {
        std::mt19937_64 rng(k.seed);
        std::vector<lumaqc::FrameRow> rows(k.rows);
        Pool pool(k.width, k.height);
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i].frame = static_cast<int64_t>(i);
            rows[i].values.has_previous = i > 0;
            rows[i].values.blackout = static_cast<uint8_t>(rng() % 2);
            for (const NamedField& f : namedFields()) {
                if (!f.real) continue;
                const uint64_t pick = rng() % 16;
                // Mostly ordinary values with ties, some nulls of every kind, some zeros.
                rows[i].values.*(f.real) = pick == 0   ? NAN
                                           : pick == 1 ? INFINITY
                                           : pick == 2 ? -1.0
                                           : pick == 3 ? 0.0
                                                       : static_cast<double>(rng() % 1000) / 8.0 - 20.0;
            }
            pool.add(rows[i]);
        }
        const auto pooled = pool.pooled();
        ASSERT_EQ(pooled.size(), namedFields().size());
        for (const PooledColumn& p : pooled) {
            const lumaqc::Column& column = lumaqc::columns()[p.column];
            const NamedField* field = nullptr;
            for (const NamedField& f : namedFields())
                if (std::string(f.name) == column.name) field = &f;
            ASSERT_NE(field, nullptr);
            // A blur or noise of exactly 0 measured nothing.
            const bool zeroMeasuresNothing = std::string(column.name) == "blur" || std::string(column.name) == "noise";
            std::vector<double> kept;
            for (const auto& row : rows) {
                const double v = fieldValue(*field, row.values);
                if (!lumaqc::isNotComputed(column, row, k.width, k.height) && std::isfinite(v) &&
                    !(zeroMeasuresNothing && v == 0.0))
                    kept.push_back(v);
            }
            ASSERT_EQ(p.stats.count, static_cast<int64_t>(kept.size())) << column.name;
            EXPECT_EQ(p.stats.excluded, static_cast<int64_t>(rows.size() - kept.size())) << column.name;
            if (kept.empty()) {
                EXPECT_TRUE(std::isnan(p.stats.mean) && std::isnan(p.stats.p50) && std::isnan(p.stats.min));
                continue;
            }
            double sum = 0.0;
            for (double v : kept) sum += v;
            EXPECT_EQ(p.stats.min, *std::min_element(kept.begin(), kept.end())) << column.name;
            EXPECT_EQ(p.stats.max, *std::max_element(kept.begin(), kept.end())) << column.name;
            EXPECT_EQ(p.stats.mean, sum / static_cast<double>(kept.size())) << column.name;
            const std::pair<double, double> percentiles[] = {{1, p.stats.p1}, {5, p.stats.p5}, {50, p.stats.p50},
                                                              {95, p.stats.p95}, {99, p.stats.p99}};
            for (const auto& [q, value] : percentiles)
                EXPECT_NEAR(value, bruteForcePercentile(kept, q), 1e-12 * (1.0 + std::fabs(value)))
                    << column.name << " p" << q;
            const bool negative = std::any_of(kept.begin(), kept.end(), [](double v) { return v < 0; });
            if (negative) {
                EXPECT_TRUE(std::isnan(p.stats.harmonicMean)) << column.name;
            }
        }
    }
}

TEST(Pooling, HarmonicMeanOfPositiveValues) {
    for (const auto& values : std::vector<std::vector<double>>{{1, 2, 4}, {3}, {0.5, 0.25, 8, 8, 100}}) {
        double reciprocals = 0.0;
        for (double v : values) reciprocals += 1.0 / v;
        EXPECT_DOUBLE_EQ(poolValues(values).harmonicMean, static_cast<double>(values.size()) / reciprocals);
    }
    EXPECT_EQ(poolValues({0.0, 2.0}).harmonicMean, 0.0);
}
