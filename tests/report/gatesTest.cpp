// Gates and the option parser: what trips, what does not, what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <nlohmann/json.hpp>

#include "report/gates.hpp"
#include "report/options.hpp"
#include "report/pooling.hpp"
#include "report/writers.hpp"

using namespace lumaqc::report;

namespace {
size_t columnIndex(const std::string& name) {
    for (size_t i = 0; i < lumaqc::columns().size(); ++i)
        if (name == lumaqc::columns()[i].name) return i;
    return 0;
}
}  // namespace

TEST(Gates, TripWhenTheComparisonHolds) {
    // blur: values 1..10, block_loss: none; two black segments, one freeze.
    std::vector<double> blur;
    for (int i = 1; i <= 10; ++i) blur.push_back(i);
    const std::vector<PooledColumn> pooled = {{columnIndex("blur"), poolValues(blur)},
                                              {columnIndex("block_loss"), poolValues({})}};
    std::array<SegmentSummary, kSegmentKindCount> segments{};
    segments[0] = {2, 30, 1.2, 0.8};
    segments[1] = {1, 10, 0.4, 0.4};
    struct Case {
        const char* expression;
        double value;  // NaN: none
        bool tripped;
    };
    const Case cases[] = {
        {"blur.max>9", 10, true},           {"blur.max>10", 10, false},        {"blur.max>=10", 10, true},
        {"blur.min<1", 1, false},           {"blur.min<=1", 1, true},          {"blur.mean==5.5", 5.5, true},
        {"blur.mean!=5.5", 5.5, false},     {"blur.p50 > 5", 5.5, true},       {"blur.count<10", 10, false},
        {" blur.p95 >= 9.55 ", 9.55, true}, {"black.count>0", 2, true},        {"black.total>1.5", 1.2, false},
        {"black.longest>=0.8", 0.8, true},  {"freeze.longest>=2", 0.4, false}, {"freeze.frames==10", 10, true},
        {"letterbox.count>0", 0, false},    {"block_loss.mean<1", NAN, false}, {"block_loss.mean!=1", NAN, false},
        {"block_loss.count==0", 0, true},
    };
    std::vector<Gate> gates;
    for (const Case& c : cases) {
        std::string error;
        const auto gate = parseGate(c.expression, &error);
        ASSERT_TRUE(gate) << c.expression << ": " << error;
        gates.push_back(*gate);
    }
    const auto results = evaluateGates(gates, pooled, segments);
    ASSERT_EQ(results.size(), std::size(cases));
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].tripped, cases[i].tripped) << cases[i].expression;
        if (std::isnan(cases[i].value)) EXPECT_TRUE(std::isnan(results[i].value)) << cases[i].expression;
        else EXPECT_DOUBLE_EQ(results[i].value, cases[i].value) << cases[i].expression;
    }
}

TEST(Gates, MalformedExpressionsAreRefusedWithTheirText) {
    for (const char* bad : {"", "blur", "blur>4", "blur.p95", "blur.p95>", "blur.p95>four", "blur.p95=>4",
                            "blur.p95>>4", "blur.p42>4", "frame.max>1", "fog.mean>1", "black.mean>1",
                            "blur.p95>inf", "blur.p95>1e999", "blur.p95=4", ".p95>4"}) {
        std::string error;
        EXPECT_FALSE(parseGate(bad, &error)) << bad;
        EXPECT_NE(error.find(std::string("'") + bad + "'"), std::string::npos) << error;
    }
}

TEST(ReportOptions, ParsesTheReportFlagsAndLeavesOthers) {
    const std::vector<std::string> args = {"--json", "out.json", "--csv=-", "--fail-if", "black.count>0",
                                           "--fail-if=blur.p95>4", "--quiet", "--summary", "--events",
                                           "--no-progress", "--min-freeze", "0.5", "--interlace-threshold=0.3",
                                           "--min-black", "2", "--min-bar", "6", "--bar-change=2.5",
                                           "--field-order-threshold", "0.125", "--threads", "4"};
    ReportOptions o;
    size_t i = 0;
    std::string error;
    while (i < args.size()) {
        const OptionStatus status = parseReportOption(args, i, o, &error);
        ASSERT_NE(status, OptionStatus::Error) << error;
        if (status == OptionStatus::Unknown) break;
    }
    EXPECT_EQ(args[i], "--threads");
    EXPECT_EQ(o.jsonPath, "out.json");
    EXPECT_EQ(o.csvPath, "-");
    EXPECT_TRUE(o.reportOnStandardOutput());
    ASSERT_EQ(o.gates.size(), 2u);
    EXPECT_EQ(o.gates[1].expression, "blur.p95>4");
    EXPECT_TRUE(o.quiet && o.summary && o.events);
    EXPECT_EQ(o.progress, ProgressMode::Off);
    EXPECT_EQ(o.segments.minimumSeconds[1], 0.5);
    EXPECT_EQ(o.segments.minimumSeconds[0], 2.0);
    EXPECT_EQ(o.segments.interlaceThreshold, 0.3);
    EXPECT_EQ(o.segments.minimumBar, 6.0);
    EXPECT_EQ(o.segments.barChange, 2.5);
    EXPECT_EQ(o.segments.fieldOrderThreshold, 0.125);
    EXPECT_EQ(checkReportOptions(o), "");
}

TEST(ReportOptions, EverySegmentSettingIsAnOptionRecordedInTheJsonSettings) {
    // Each option, its JSON key and the field it sets, written down apart from the table of settings.
    struct Row {
        const char* option;
        const char* key;
        double (*field)(const SegmentOptions&);
    };
    const Row rows[] = {
        {"--min-black", "min_black", [](const SegmentOptions& o) { return o.minimumSeconds[0]; }},
        {"--min-freeze", "min_freeze", [](const SegmentOptions& o) { return o.minimumSeconds[1]; }},
        {"--min-letterbox", "min_letterbox", [](const SegmentOptions& o) { return o.minimumSeconds[2]; }},
        {"--min-pillarbox", "min_pillarbox", [](const SegmentOptions& o) { return o.minimumSeconds[3]; }},
        {"--min-interlaced", "min_interlaced", [](const SegmentOptions& o) { return o.minimumSeconds[4]; }},
        {"--min-out-of-range", "min_out_of_range", [](const SegmentOptions& o) { return o.minimumSeconds[5]; }},
        {"--min-flat", "min_flat", [](const SegmentOptions& o) { return o.minimumSeconds[6]; }},
        {"--min-flash", "min_flash", [](const SegmentOptions& o) { return o.minimumSeconds[7]; }},
        {"--interlace-threshold", "interlace_threshold", [](const SegmentOptions& o) { return o.interlaceThreshold; }},
        {"--field-order-threshold", "field_order_threshold",
         [](const SegmentOptions& o) { return o.fieldOrderThreshold; }},
        {"--min-bar", "min_bar", [](const SegmentOptions& o) { return o.minimumBar; }},
        {"--bar-change", "bar_change", [](const SegmentOptions& o) { return o.barChange; }},
        {"--black-level", "black_level", [](const SegmentOptions& o) { return o.blackLevel; }},
        {"--freeze-noise", "freeze_noise", [](const SegmentOptions& o) { return o.freezeNoise; }},
    };
    const SegmentOptions defaults;
    ASSERT_EQ(segmentSettings().size(), std::size(rows));
    for (size_t r = 0; r < std::size(rows); ++r) {
        const double value = 1.25 + static_cast<double>(r);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{rows[r].option, std::to_string(value)},
              std::vector<std::string>{std::string(rows[r].option) + "=" + std::to_string(value)}}) {
            ReportOptions o;
            size_t i = 0;
            std::string error;
            ASSERT_EQ(parseReportOption(args, i, o, &error), OptionStatus::Consumed) << rows[r].option << error;
            EXPECT_EQ(i, args.size());
            const auto json = nlohmann::json::parse(JsonWriter::settingsJson(StreamSettings{}, o.segments));
            for (size_t other = 0; other < std::size(rows); ++other) {
                const double want = other == r ? value : rows[other].field(defaults);
                EXPECT_EQ(rows[other].field(o.segments), want) << rows[r].option << " " << rows[other].key;
                EXPECT_EQ(json["segments"][rows[other].key].get<double>(), want) << rows[r].option;
            }
        }
        ReportOptions o;
        size_t i = 0;
        std::string error;
        EXPECT_EQ(parseReportOption({rows[r].option, "-0.5"}, i, o, &error), OptionStatus::Error) << rows[r].option;
    }
}

TEST(ReportOptions, BadValuesAreErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"--json"}, {"--json", "--csv"}, {"--csv="}, {"--fail-if", "blur>4"}, {"--min-freeze", "-1"},
        {"--min-black", "x"}, {"--interlace-threshold", "nan"}, {"--quiet=1"}, {"--min-bar", "-4"},
        {"--bar-change"}, {"--field-order-threshold", "inf"}};
    for (const auto& args : bad) {
        ReportOptions o;
        size_t i = 0;
        std::string error;
        EXPECT_EQ(parseReportOption(args, i, o, &error), OptionStatus::Error) << args[0];
        EXPECT_FALSE(error.empty());
    }
    ReportOptions both;
    both.jsonPath = both.csvPath = "-";
    EXPECT_NE(checkReportOptions(both), "");
    both.jsonPath = both.csvPath = "same.txt";
    EXPECT_NE(checkReportOptions(both), "");
}

TEST(ReportOptions, RangesByNameOrBoundsAndTheirArea) {
    struct Case {
        std::vector<std::string> args;
        bool accepted;
        int low, high;
        double area;
    };
    const Case cases[] = {
        {{}, true, 5, 246, 0.01},
        {{"--range", "r103"}, true, 5, 246, 0.01},
        {{"--range=nominal"}, true, 16, 235, 0.01},
        {{"--range", "full", "--range-area", "0"}, true, 0, 255, 0.0},
        {{"--range", "0-1"}, true, 0, 1, 0.01},
        {{"--range", "255-255", "--range-area=1"}, true, 255, 255, 1.0},
        {{"--range", "016-235", "--range-area", "0.05"}, true, 16, 235, 0.05},
        {{"--range", "0-0"}, false, 0, 0, 0},
        {{"--range", "200-100"}, false, 0, 0, 0},
        {{"--range", "0-256"}, false, 0, 0, 0},
        {{"--range", "-5-20"}, false, 0, 0, 0},
        {{"--range", "5-"}, false, 0, 0, 0},
        {{"--range", "5-20-30"}, false, 0, 0, 0},
        {{"--range", "0016-235"}, false, 0, 0, 0},
        {{"--range", "R103"}, false, 0, 0, 0},
        {{"--range", " 5-246"}, false, 0, 0, 0},
        {{"--range"}, false, 0, 0, 0},
        {{"--range-area", "1.5"}, false, 0, 0, 0},
        {{"--range-area", "-0.1"}, false, 0, 0, 0},
        {{"--range-area", "nan"}, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ReportOptions o;
        size_t i = 0;
        std::string error;
        bool failed = false;
        while (i < c.args.size() && !failed) failed = parseReportOption(c.args, i, o, &error) == OptionStatus::Error;
        const std::string what = c.args.empty() ? "(defaults)" : c.args[0] + " " + c.args.back();
        EXPECT_EQ(!failed, c.accepted) << what << ": " << error;
        if (!c.accepted) {
            EXPECT_NE(error.find(c.args[0].substr(0, c.args[0].find('='))), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(std::make_tuple(o.segments.rangeLow, o.segments.rangeHigh, o.segments.rangeArea),
                  std::make_tuple(c.low, c.high, c.area))
            << what;
    }
}
