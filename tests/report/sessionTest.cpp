// The session as the command line drives it: console text of events, summary
// and gates, the exit status, and report files that cannot be written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "report/session.hpp"
#include "rows.hpp"

using lumaqc::FrameRow;
using namespace lumaqc::report;
using namespace reporttest;

namespace {
// 3 ordinary frames, 4 black, 6 repeats of one picture, 2 ordinary.
std::vector<FrameRow> clipRows() {
    std::vector<FrameRow> rows(15);
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].frame = static_cast<int64_t>(i);
        rows[i].values.has_previous = i > 0;
        rows[i].values.blackout = i >= 3 && i < 7;
        rows[i].values.brightest_block = i >= 3 && i < 7 ? 16.0 : 120.0;
        rows[i].values.temporal_activity = (i >= 8 && i < 13) ? 0.0 : 3.0;
        rows[i].values.block_difference = (i >= 8 && i < 13) ? 0.0 : 20.0;
        rows[i].values.blur = 1.0 + static_cast<double>(i);
    }
    return rows;
}

StreamSettings settings() {
    StreamSettings s;
    s.width = 64;
    s.height = 64;
    s.fps = 10.0;
    s.frames = 15;
    return s;
}
}  // namespace

TEST(Session, ConsoleTextGatesAndExitStatus) {
    struct Case {
        std::vector<std::string> args;
        RunStatus status;
        int exit;
        std::vector<std::string> consoleHas;
    };
    const std::vector<Case> cases = {
        {{}, RunStatus::Completed, 0, {}},
        {{}, RunStatus::Failed, 255, {}},
        {{"--events"},
         RunStatus::Completed,
         0,
         {"black_start: 0.3 black_end: 0.7 black_duration: 0.4 first_frame: 3 last_frame: 6\n",
          "freeze_start: 0.7 freeze_end: 1.3 freeze_duration: 0.6 first_frame: 7 last_frame: 12\n"}},
        {{"--fail-if", "black.count>0", "--fail-if", "blur.max>15"},
         RunStatus::Completed,
         1,
         {"gate black.count>0: value 1, tripped\n", "gate blur.max>15: value 15, passed\n"}},
        {{"--fail-if", "black.count>0"}, RunStatus::Failed, 255, {"tripped"}},
        {{"--fail-if", "freeze.longest>=0.6", "--min-freeze", "0.6"}, RunStatus::Completed, 0, {"value 0, passed"}},
        {{"--summary"}, RunStatus::Completed, 0, {"Pooled statistics:", "\tblack: 1 segments, 4 frames", "blur  "}},
    };
    for (const Case& k : cases) {
        ReportOptions options;
        std::string error;
        for (size_t i = 0; i < k.args.size();)
            ASSERT_EQ(parseReportOption(k.args, i, options, &error), OptionStatus::Consumed) << error;
        CapturedFile console;
        Streams streams;
        streams.console = console.file;
        Session session(options, settings(), streams);
        ASSERT_EQ(session.open(), "");
        for (const FrameRow& row : clipRows()) session.addRow(row);
        const FinishResult& result = session.finish(k.status);
        EXPECT_EQ(exitStatus(k.status, result), k.exit) << k.args.size();
        const std::string text = console.text();
        if (k.consoleHas.empty()) {
            EXPECT_EQ(text, "");
        }
        for (const std::string& part : k.consoleHas) EXPECT_NE(text.find(part), std::string::npos) << text;
    }
}

TEST(Session, ReportsThatCannotBeWrittenAreErrors) {
    ReportOptions options;
    options.jsonPath = "/nonexistent-directory/report.json";
    Session missing(options, settings(), Streams{});
    EXPECT_NE(missing.open().find("/nonexistent-directory/report.json"), std::string::npos);

    // The input is never overwritten by a report.
    char input[] = "/tmp/lumaqc-report-input-XXXXXX";
    const int fd = mkstemp(input);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "frames", 6), 6);
    close(fd);
    StreamSettings withInput = settings();
    withInput.input = input;
    options.csvPath = input;
    options.jsonPath = "";
    Session overwrite(options, withInput, Streams{});
    EXPECT_NE(overwrite.open().find("it is the input"), std::string::npos);
    std::FILE* kept = std::fopen(input, "r");
    char text[8] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, kept), 6u);
    std::fclose(kept);
    std::remove(input);
    EXPECT_STREQ(text, "frames");

    options.csvPath = "";
    options.jsonPath = "/dev/full";
    Session full(options, settings(), Streams{});
    ASSERT_EQ(full.open(), "");
    for (const FrameRow& row : clipRows()) full.addRow(row);
    const FinishResult& result = full.finish(RunStatus::Completed);
    EXPECT_NE(result.writeError, "");
    EXPECT_EQ(exitStatus(RunStatus::Completed, result), 255);
}

TEST(Session, JsonEventsAndGatesAreTheSessionData) {
    ReportOptions options;
    options.jsonPath = "-";
    std::vector<std::string> args = {"--fail-if", "freeze.count==1"};
    std::string error;
    size_t i = 0;
    ASSERT_EQ(parseReportOption(args, i, options, &error), OptionStatus::Consumed);
    CapturedFile out, console;
    Streams streams;
    streams.output = out.file;
    streams.console = console.file;
    Session session(options, settings(), streams);
    ASSERT_EQ(session.open(), "");
    for (const FrameRow& row : clipRows()) session.addRow(row);
    session.finish(RunStatus::Completed);
    const auto doc = nlohmann::json::parse(out.text());
    ASSERT_EQ(doc["events"].size(), session.segments().size());
    for (size_t k = 0; k < session.segments().size(); ++k) {
        const Segment& s = session.segments()[k];
        const std::string kind = segmentKindName(s.kind);
        EXPECT_EQ(doc["events"][k]["type"], kind);
        EXPECT_EQ(doc["events"][k]["first_frame"], s.firstFrame);
        EXPECT_EQ(doc["events"][k][kind + "_duration"].get<double>(), s.duration);
    }
    EXPECT_EQ(doc["gates"][0]["tripped"], true);
    EXPECT_EQ(doc["pooled_metrics"]["blur"]["max"], 15.0);
    EXPECT_EQ(doc["pooled_metrics"]["blur"]["count"], 15);
}
