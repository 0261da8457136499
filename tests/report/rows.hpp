// Seeded result rows for the report tests, and the result fields by column name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "report/frameRows.hpp"

namespace reporttest {

// The fields of lumaqc_result by their column names, written down here apart
// from the column table so that a wrong offset in either shows.
struct NamedField {
    const char* name;
    double lumaqc_result::*real;
    uint8_t lumaqc_result::*flag;
};

inline const std::vector<NamedField>& namedFields() {
    static const std::vector<NamedField> fields = {
        {"blockiness", &lumaqc_result::blockiness, nullptr},
        {"spatial_activity", &lumaqc_result::spatial_activity, nullptr},
        {"letterbox", &lumaqc_result::letterbox, nullptr},
        {"pillarbox", &lumaqc_result::pillarbox, nullptr},
        {"block_loss", &lumaqc_result::block_loss, nullptr},
        {"blur", &lumaqc_result::blur, nullptr},
        {"temporal_activity", &lumaqc_result::temporal_activity, nullptr},
        {"blackout", nullptr, &lumaqc_result::blackout},
        {"freezing", nullptr, &lumaqc_result::freezing},
        {"exposure", &lumaqc_result::exposure, nullptr},
        {"contrast", &lumaqc_result::contrast, nullptr},
        {"interlace", &lumaqc_result::interlace, nullptr},
        {"noise", &lumaqc_result::noise, nullptr},
        {"slice", &lumaqc_result::slice, nullptr},
        {"flickering", &lumaqc_result::flickering, nullptr},
        {"brightest_block", &lumaqc_result::brightest_block, nullptr},
        {"block_difference", &lumaqc_result::block_difference, nullptr},
        {"bar_top", &lumaqc_result::bar_top, nullptr},
        {"bar_bottom", &lumaqc_result::bar_bottom, nullptr},
        {"bar_left", &lumaqc_result::bar_left, nullptr},
        {"bar_right", &lumaqc_result::bar_right, nullptr},
        {"combing", &lumaqc_result::combing, nullptr},
        {"field_order", &lumaqc_result::field_order, nullptr},
        {"luma_min", &lumaqc_result::luma_min, nullptr},
        {"luma_low", &lumaqc_result::luma_low, nullptr},
        {"luma_avg", &lumaqc_result::luma_avg, nullptr},
        {"luma_high", &lumaqc_result::luma_high, nullptr},
        {"luma_max", &lumaqc_result::luma_max, nullptr},
        {"below_range", &lumaqc_result::below_range, nullptr},
        {"above_range", &lumaqc_result::above_range, nullptr},
        {"flash_area", &lumaqc_result::flash_area, nullptr},
        {"flashes_per_second", &lumaqc_result::flashes_per_second, nullptr},
    };
    return fields;
}

inline double fieldValue(const NamedField& f, const lumaqc_result& r) {
    return f.real ? r.*(f.real) : static_cast<double>(r.*(f.flag));
}

inline uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Doubles that are hard to write: random bit patterns, tiny, huge, negative
// zero, -1 (the "not computed" marker of some columns), NaN and infinities.
inline double awkwardDouble(std::mt19937_64& rng) {
    switch (rng() % 10) {
        case 0: return -0.0;
        case 1: return -1.0;
        case 2: return std::numeric_limits<double>::quiet_NaN();
        case 3: return (rng() & 1) ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
        case 4: return std::numeric_limits<double>::denorm_min() * static_cast<double>(rng() % 1000 + 1);
        case 5: return static_cast<double>(rng() % 200);
        default: {
            double v;
            uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
    }
}

// Rows of frames first, first + 1, ... with awkward values; the first row has
// no previous picture, later ones have one except where the stream restarts.
inline std::vector<lumaqc::FrameRow> awkwardRows(uint64_t seed, size_t count, int64_t first, bool withPts) {
    std::mt19937_64 rng(seed);
    std::vector<lumaqc::FrameRow> rows(count);
    for (size_t i = 0; i < count; ++i) {
        lumaqc::FrameRow& row = rows[i];
        row.frame = first + static_cast<int64_t>(i);
        if (withPts) row.ptsTime = static_cast<double>(i) * 0.04 + 1.5;
        row.values.has_previous = i > 0 && rng() % 8 != 0;
        row.values.blackout = static_cast<uint8_t>(rng() & 1);
        row.values.freezing = static_cast<uint8_t>(rng() & 1);
        for (const NamedField& f : namedFields())
            if (f.real) row.values.*(f.real) = awkwardDouble(rng);
    }
    return rows;
}

// What was written to a stdio stream.
struct CapturedFile {
    char* data = nullptr;
    size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    ~CapturedFile() {
        if (file) std::fclose(file);
        std::free(data);
    }
    std::string text() {
        std::fflush(file);
        return std::string(data, size);
    }
};

}  // namespace reporttest
