// Many files: the output folders are made, a line per input as it finishes
// against the run of that input alone (status, frames, events by type), and
// the reader's warnings in each JSON report and in the summary against the
// warning lines of the run alone.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "e2e/clipKinds.hpp"
#include "e2e/runner.hpp"
#include "report/segments.hpp"

namespace {

struct Alone {
    std::string line;                   // the line expected when it finishes, without the speed
    std::vector<std::string> warnings;  // its "Warning: " lines, without "Warning: "
};

// The run of one input alone, with the options of the many, as the independent path.
Alone runAlone(const WorkDir& dir, const std::string& input) {
    const RunResult r = runIn(dir, "--quiet --no-log --fail-if 'black.count>0' --json alone.json '" + dir.file(input) + "' 16 16");
    Alone a;
    for (const std::string& line : linesOf(r.err))
        if (line.rfind("Warning: ", 0) == 0) a.warnings.push_back(line.substr(9));
    if (r.status != 0 && r.status != 1) {
        a.line = "ERROR " + dir.file(input) + ": " + linesOf(r.err).back();
        return a;
    }
    const auto doc = nlohmann::json::parse(readFile(dir.file("alone.json")));
    std::map<std::string, int> counts;
    for (const auto& e : doc["events"]) ++counts[e["type"].get<std::string>()];
    // In the order of the kinds, as the report's segment_summary lists them
    // (the parsed object's own order is by name).
    std::string events;
    for (size_t k = 0; k < lumaqc::report::kSegmentKindCount; ++k)
        if (const std::string kind = lumaqc::report::segmentKindName(static_cast<lumaqc::report::SegmentKind>(k));
            counts[kind] > 0) events += (events.empty() ? "" : ", ") + kind + " " + std::to_string(counts[kind]);
    a.line = std::string(r.status == 0 ? "PASS " : "FAIL ") + dir.file(input) + ": " +
             std::to_string(doc["frames_analysed"].get<int64_t>()) + " frames | " +
             (events.empty() ? "no events" : "events: " + events);
    return a;
}

// "PASS /x/a.yuv: 60 frames, 1234 frames/s, events: ..." without its speed.
std::string withoutSpeed(const std::string& line) {
    const size_t frames = line.find(" frames, "), speed = line.find(" frames/s, ");
    if (frames == std::string::npos || speed == std::string::npos) return line;
    return line.substr(0, frames) + " frames |" + line.substr(speed + 10);
}

}  // namespace

TEST(ManyFiles, FoldersLinesAndWarnings) {
    const std::vector<std::string> inputs = {"clean.yuv", "black.yuv", "freeze.yuv", "trailing.yuv", "missing.yuv"};
    const struct {
        std::string folders;
        std::string jsonDir;
    } cases[] = {
        {"--json-dir out/a/b --csv-dir out/c", "out/a/b"},
        {"--json-dir made --threads 1", "made"},
        {"--csv-dir deep/er/still --json-dir deep --threads 3", "deep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folders);
        WorkDir dir;
        dir.write("clean.yuv", clipOfKinds(kindsOf({{'n', 60}})));
        dir.write("black.yuv", clipOfKinds(kindsOf({{'n', 20}, {'b', 30}, {'n', 20}})));
        dir.write("freeze.yuv", clipOfKinds(kindsOf({{'n', 20}, {'f', 30}, {'n', 20}})));
        std::vector<uint8_t> trailing = clipOfKinds(kindsOf({{'n', 30}, {'b', 5}}));
        trailing.resize(trailing.size() + 100, 7);
        dir.write("trailing.yuv", trailing);
        runShell("mkdir -p '" + dir.file("made") + "'");
        std::string given;
        for (const std::string& input : inputs) given += " " + input;
        const RunResult r = runIn(dir, c.folders + " --size 16x16 --fail-if 'black.count>0'" + given);
        EXPECT_EQ(r.status, 255) << r.err;  // the missing input

        std::multiset<std::string> expectedLines, printedLines;
        std::vector<std::string> expectedWarnings;
        std::map<std::string, std::vector<std::string>> warningsOf;
        for (const std::string& input : inputs) {
            const Alone a = runAlone(dir, input);
            expectedLines.insert(a.line);
            for (const std::string& w : a.warnings) expectedWarnings.push_back("warning " + dir.file(input) + ": " + w);
            warningsOf[input] = a.warnings;
        }
        // The lines of the inputs come before the summary, one each.
        const std::vector<std::string> lines = linesOf(r.out);
        const size_t header = lines.size() - linesOf(summaryOf(r.out)).size();
        ASSERT_EQ(header, inputs.size()) << r.out;
        for (size_t k = 0; k < header; ++k) printedLines.insert(withoutSpeed(lines[k]));
        EXPECT_EQ(printedLines, expectedLines) << r.out;
        // The summary ends with the warnings, in input order.
        ASSERT_FALSE(expectedWarnings.empty());
        const std::vector<std::string> tail(lines.end() - static_cast<long>(expectedWarnings.size()), lines.end());
        EXPECT_EQ(tail, expectedWarnings) << r.out;
        // Each report lists its run's warnings (none: no key).
        for (const std::string& input : inputs) {
            if (input == "missing.yuv") continue;
            const auto doc = nlohmann::json::parse(readFile(dir.file(c.jsonDir + "/" + input + ".json")));
            EXPECT_EQ(doc.contains("warnings") ? doc["warnings"].get<std::vector<std::string>>() : std::vector<std::string>{},
                      warningsOf[input])
                << input;
        }
        // Merge keeps them: a whole run's report merged alone is itself.
        const std::string report = dir.file(c.jsonDir + "/trailing.yuv.json");
        ASSERT_EQ(runIn(dir, "merge --fail-if 'black.count>0' --json merged.json '" + report + "'").status, 1);
        EXPECT_TRUE(readFile(dir.file("merged.json")) == readFile(report));
    }
    // A file where a folder should be: one line, nothing analysed.
    WorkDir dir;
    dir.write("in.yuv", clipOfKinds(kindsOf({{'n', 5}})));
    dir.write("taken", {1});
    for (const std::string& folders : {"--json-dir taken", "--json-dir ok --csv-dir taken/sub"}) {
        SCOPED_TRACE(folders);
        const RunResult r = runIn(dir, folders + " --size 16x16 in.yuv");
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(linesOf(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("Cannot create the output folder ", 0), 0u) << r.err;
    }
}
