// The table of values through the public API, structs of older callers, the
// analysis path setting and the version.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <set>
#include <vector>

#include "lumaqc/lumaqc.h"
#include "report/rows.hpp"

namespace {

constexpr int32_t kW = 96, kH = 64;

// A picture with some detail that changes from frame to frame.
std::vector<uint8_t> picture(int frame) {
    std::vector<uint8_t> p(static_cast<size_t>(kW) * kH);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>((i * 7 + i / kW * 13 + frame * 29) % 251);
    return p;
}

lumaqc_context* open(int path = LUMAQC_PATH_ONE_PASS) {
    lumaqc_settings s;
    lumaqc_default_settings(&s);
    s.analysis_path = path;
    s.measure_time = 1;
    lumaqc_context* ctx = nullptr;
    EXPECT_EQ(lumaqc_open(&ctx, kW, kH, &s), LUMAQC_OK);
    return ctx;
}

}  // namespace

TEST(Values, TheTableNamesTheColumnsAndReadsEachField) {
    ASSERT_EQ(lumaqc_value_count(), LUMAQC_INDICATOR_COUNT);
    const std::vector<reporttest::NamedField>& fields = reporttest::namedFields();
    ASSERT_EQ(lumaqc_value_count(), static_cast<int>(fields.size()));
    EXPECT_STREQ(lumaqc_column_name(0), "frame");
    EXPECT_EQ(lumaqc_column_name(LUMAQC_COLUMN_COUNT), nullptr);
    EXPECT_EQ(lumaqc_value_info_at(-1), nullptr);
    EXPECT_EQ(lumaqc_value_info_at(lumaqc_value_count()), nullptr);

    lumaqc_result r{};
    r.has_previous = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        // Distinct values: a wrong offset or kind reads another one.
        if (fields[i].real != nullptr) r.*fields[i].real = 1000.25 + static_cast<double>(i);
        else r.*fields[i].flag = static_cast<uint8_t>(1 + i);
    }
    std::vector<int> indicators(static_cast<size_t>(LUMAQC_INDICATOR_COUNT), 0);
    for (int i = 0; i < lumaqc_value_count(); ++i) {
        const lumaqc_value_info* v = lumaqc_value_info_at(i);
        const reporttest::NamedField& f = fields[static_cast<size_t>(i)];
        EXPECT_STREQ(v->name, f.name);
        EXPECT_STREQ(lumaqc_column_name(i + 1), f.name);
        EXPECT_EQ(v->kind == LUMAQC_KIND_FLAG, f.flag != nullptr) << f.name;
        double value = -1.0;
        ASSERT_EQ(lumaqc_get_value(&r, i, &value), LUMAQC_OK);
        EXPECT_EQ(value, reporttest::fieldValue(f, r)) << f.name;
        ASSERT_GE(v->indicator, 0);
        ASSERT_LT(v->indicator, LUMAQC_INDICATOR_COUNT);
        ++indicators[static_cast<size_t>(v->indicator)];
        EXPECT_EQ(v->pooling, LUMAQC_POOLING_STATISTICS) << f.name;
    }
    for (int count : indicators) EXPECT_EQ(count, 1);
    // The numbers of the enum are the table's.
    EXPECT_EQ(lumaqc_value_info_at(6)->indicator, LUMAQC_TEMPORAL_ACTIVITY);
    EXPECT_EQ(lumaqc_value_info_at(10)->indicator, LUMAQC_CONTRAST);
    double value = 0.0;
    EXPECT_EQ(lumaqc_get_value(&r, lumaqc_value_count(), &value), LUMAQC_ERROR_INVALID);
    EXPECT_EQ(lumaqc_get_value(nullptr, 0, &value), LUMAQC_ERROR_BAD_POINTER);
    EXPECT_EQ(lumaqc_get_value_sized(&r, offsetof(lumaqc_result, flickering), 14, &value), LUMAQC_ERROR_INVALID);
}

// Each struct the caller passes, cut before its last field as a program
// built against an older header would have it, with guard bytes after it.
TEST(Values, OlderCallersGetTheirPartAndNothingPastIt) {
    constexpr unsigned char kGuard = 0xa5;
    struct Case {
        const char* what;
        size_t full, cut;
        // Fills the caller's struct of that size at p; returns the status.
        int (*call)(lumaqc_context* ctx, void* p, size_t size);
    };
    const Case cases[] = {
        {"default settings", sizeof(lumaqc_settings), offsetof(lumaqc_settings, analysis_path),
         [](lumaqc_context*, void* p, size_t size) {
             return lumaqc_default_settings_sized(static_cast<lumaqc_settings*>(p), size);
         }},
        {"analyse", sizeof(lumaqc_result), offsetof(lumaqc_result, flickering),
         [](lumaqc_context* ctx, void* p, size_t size) {
             const std::vector<uint8_t> luma = picture(1);
             return lumaqc_analyse_sized(ctx, luma.data(), kW, static_cast<lumaqc_result*>(p), size);
         }},
        {"receive", sizeof(lumaqc_result), offsetof(lumaqc_result, flickering),
         [](lumaqc_context* ctx, void* p, size_t size) {
             const std::vector<uint8_t> luma = picture(1);
             lumaqc_send_frame(ctx, luma.data(), kW);
             return lumaqc_receive_result_sized(ctx, static_cast<lumaqc_result*>(p), size);
         }},
        {"times", sizeof(lumaqc_times), offsetof(lumaqc_times, seconds[LUMAQC_INDICATOR_COUNT - 1]),
         [](lumaqc_context* ctx, void* p, size_t size) {
             return lumaqc_get_times_sized(ctx, static_cast<lumaqc_times*>(p), size);
         }},
    };
    for (const Case& k : cases) {
        // The same call on two fresh contexts: the whole struct, and the cut one.
        std::vector<unsigned char> whole(k.full, 0), cut(k.full + 32, kGuard);
        lumaqc_context* a = open();
        lumaqc_context* b = open();
        const std::vector<uint8_t> first = picture(0);
        lumaqc_result ignored;
        ASSERT_EQ(lumaqc_analyse(a, first.data(), kW, &ignored), LUMAQC_OK);
        ASSERT_EQ(lumaqc_analyse(b, first.data(), kW, &ignored), LUMAQC_OK);
        ASSERT_EQ(k.call(a, whole.data(), k.full), LUMAQC_OK) << k.what;
        ASSERT_EQ(k.call(b, cut.data(), k.cut), LUMAQC_OK) << k.what;
        lumaqc_close(&a);
        lumaqc_close(&b);
        if (std::strcmp(k.what, "times") != 0) {  // processor times differ from run to run
            EXPECT_EQ(std::memcmp(whole.data(), cut.data(), k.cut), 0) << k.what;
        }
        for (size_t i = k.cut; i < cut.size(); ++i) ASSERT_EQ(cut[i], kGuard) << k.what << " byte " << i;
    }
}

TEST(Values, SettingsPastTheCallersSizeKeepTheirDefaults) {
    // An analysis path the library refuses, placed past the caller's struct.
    lumaqc_settings s;
    lumaqc_default_settings(&s);
    s.analysis_path = 99;
    lumaqc_context* ctx = nullptr;
    EXPECT_EQ(lumaqc_open(&ctx, kW, kH, &s), LUMAQC_ERROR_INVALID);
    EXPECT_EQ(ctx, nullptr);
    ASSERT_EQ(lumaqc_open_sized(&ctx, kW, kH, &s, offsetof(lumaqc_settings, analysis_path)), LUMAQC_OK);
    lumaqc_close(&ctx);
    EXPECT_EQ(lumaqc_open_sized(&ctx, kW, kH, &s, 4), LUMAQC_ERROR_INVALID);
}

TEST(Values, BothAnalysisPathsGiveTheSameBits) {
    lumaqc_context* onePass = open(LUMAQC_PATH_ONE_PASS);
    lumaqc_context* perIndicator = open(LUMAQC_PATH_PER_INDICATOR);
    for (int frame = 0; frame < 12; ++frame) {
        const std::vector<uint8_t> luma = picture(frame % 5 == 4 ? frame - 1 : frame);
        lumaqc_result a, b;
        ASSERT_EQ(lumaqc_analyse(onePass, luma.data(), kW, &a), LUMAQC_OK);
        ASSERT_EQ(lumaqc_analyse(perIndicator, luma.data(), kW, &b), LUMAQC_OK);
        for (int i = 0; i < lumaqc_value_count(); ++i) {
            double x = 0.0, y = 0.0;
            lumaqc_get_value(&a, i, &x);
            lumaqc_get_value(&b, i, &y);
            EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << lumaqc_column_name(i + 1) << " frame " << frame;
        }
    }
    lumaqc_close(&onePass);
    lumaqc_close(&perIndicator);
}

TEST(Values, VersionOfTheLibraryIsTheHeaders) {
    EXPECT_EQ(lumaqc_version(), static_cast<unsigned>(LUMAQC_VERSION));
    EXPECT_STREQ(lumaqc_version_string(), LUMAQC_VERSION_STRING);
    const std::string parts = std::to_string(LUMAQC_VERSION / 10000) + "." + std::to_string(LUMAQC_VERSION / 100 % 100) +
                              "." + std::to_string(LUMAQC_VERSION % 100);
    EXPECT_EQ(parts, LUMAQC_VERSION_STRING);
}

TEST(Values, SkippingTheAddedValuesLeavesThemNotANumberAndTheOthersAsTheyAre) {
    const std::set<std::string> events = {"brightest_block", "block_difference", "bar_top", "bar_bottom",
                                           "bar_left", "bar_right", "combing", "field_order"};
    const std::set<std::string> levels = {"luma_min",  "luma_low",    "luma_avg",   "luma_high",
                                          "luma_max", "below_range", "above_range"};
    const std::set<std::string> flashes = {"flash_area", "flashes_per_second"};
    struct Case {
        int skip;
        bool skipsEvents, skipsLevels, skipsLater;
        bool skipsFlashes;
    };
    const std::vector<Case> cases = {
        {LUMAQC_SKIP_ADDED_ALL, true, true, true, true},
        {LUMAQC_SKIP_EVENT_VALUES, true, false, false, false},
        {LUMAQC_SKIP_LEVEL_VALUES, false, true, false, false},
        {LUMAQC_SKIP_EVENT_VALUES | LUMAQC_SKIP_LEVEL_VALUES, true, true, false, false},
        {LUMAQC_SKIP_FLASH_VALUES, false, false, false, true},
        {1 << 12, true, true, true, true},  // a bit of no group: all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("skip_added_values " + std::to_string(c.skip));
        lumaqc_settings s;
        lumaqc_default_settings(&s);
        lumaqc_context* all = nullptr;
        lumaqc_context* skipping = nullptr;
        ASSERT_EQ(lumaqc_open(&all, kW, kH, &s), LUMAQC_OK);
        s.skip_added_values = c.skip;
        ASSERT_EQ(lumaqc_open(&skipping, kW, kH, &s), LUMAQC_OK);
        for (int frame = 0; frame < 4; ++frame) {
            const std::vector<uint8_t> luma = picture(frame);
            lumaqc_result a, b;
            ASSERT_EQ(lumaqc_analyse(all, luma.data(), kW, &a), LUMAQC_OK);
            ASSERT_EQ(lumaqc_analyse(skipping, luma.data(), kW, &b), LUMAQC_OK);
            for (int i = 0; i < lumaqc_value_count(); ++i) {
                const lumaqc_value_info* v = lumaqc_value_info_at(i);
                const bool added = v->outputs == LUMAQC_OUTPUTS_REPORTS;
                EXPECT_EQ(added, i >= 15) << v->name;
                const bool skipped = events.count(v->name) != 0    ? c.skipsEvents
                                     : levels.count(v->name) != 0  ? c.skipsLevels
                                     : flashes.count(v->name) != 0 ? c.skipsFlashes
                                                                   : added && c.skipsLater;
                double x = 0.0, y = 0.0;
                lumaqc_get_value(&a, i, &x);
                lumaqc_get_value(&b, i, &y);
                if (skipped && v->kind != LUMAQC_KIND_FLAG) {
                    EXPECT_FALSE(std::isnan(x)) << v->name << " frame " << frame;
                    EXPECT_TRUE(std::isnan(y)) << v->name << " frame " << frame;
                } else if (!skipped) {
                    EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << v->name << " frame " << frame;
                }
            }
        }
        lumaqc_close(&all);
        lumaqc_close(&skipping);
    }
}
