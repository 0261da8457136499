// lumaqc check: the exit status and verdict of each input against the single
// run's own gates, and the events of a verdict against the JSON report's, with
// their timecodes counted label by label.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "e2e/clipKinds.hpp"
#include "e2e/runner.hpp"
#include "support/labelClock.hpp"

namespace {

void writeText(const WorkDir& dir, const std::string& name, const std::string& text) {
    dir.write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

// The first word of each line that starts with one.
std::vector<std::string> verdictWords(const std::string& out) {
    std::vector<std::string> words;
    for (const std::string& line : linesOf(out))
        if (!line.empty() && line[0] != ' ' && line.find(" inputs: ") == std::string::npos)
            words.push_back(line.substr(0, line.find(' ')));
    return words;
}

}  // namespace

TEST(Check, StatusesOfProfilesAndWaivers) {
    WorkDir dir;
    dir.write("clean.yuv", clipOfKinds(kindsOf({{'n', 100}})));
    dir.write("mid.yuv", clipOfKinds(kindsOf({{'n', 50}, {'b', 60}, {'n', 90}})));
    dir.write("lead.yuv", clipOfKinds(kindsOf({{'b', 60}, {'n', 140}})));
    dir.write("freeze.yuv", clipOfKinds(kindsOf({{'n', 50}, {'f', 60}, {'n', 90}})));
    writeText(dir, "covers.json", R"([{"type": "black", "first": 40, "last": 120}])");
    writeText(dir, "misses.json", R"([{"type": "black", "first": 51, "last": 120}, {"type": "freeze", "first": 0, "last": 999}])");
    writeText(dir, "mine.json", R"({"settings": {"min_freeze": 0.1}, "gates": ["freeze.count>0"]})");
    writeText(dir, "bad.json", R"({"settings": {"min_fog": 1}})");
    writeText(dir, "badwaivers.json", R"([{"type": "fog", "first": 0, "last": 1}])");
    const struct {
        std::string args;
        int status;
        std::vector<std::string> verdicts;
    } cases[] = {
        {"clean.yuv", 0, {"PASS"}},
        {"mid.yuv", 1, {"FAIL"}},
        {"lead.yuv", 0, {"PASS"}},
        {"lead.yuv --edge 0", 1, {"FAIL"}},
        {"mid.yuv --waivers covers.json", 0, {"PASS"}},
        {"mid.yuv --waivers misses.json", 1, {"FAIL"}},
        {"freeze.yuv --profile mine.json", 1, {"FAIL"}},
        {"freeze.yuv --profile mine.json --waivers misses.json", 0, {"PASS"}},
        {"freeze.yuv --profile archive", 1, {"FAIL"}},
        {"mid.yuv --profile mine.json", 0, {"PASS"}},
        {"clean.yuv mid.yuv", 1, {"PASS", "FAIL"}},
        {"clean.yuv mid.yuv missing.yuv", 255, {"PASS", "FAIL", "ERROR"}},
        {"clean.yuv --profile nosuch", 255, {}},
        {"clean.yuv --profile bad.json", 255, {}},
        {"clean.yuv --waivers badwaivers.json", 255, {}},
        {"clean.yuv --json r.json", 255, {}},
        {"", 255, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = runIn(dir, "check --size 16x16 " + c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(verdictWords(r.out), c.verdicts) << r.out;
        EXPECT_FALSE(r.logExists);
        if (c.verdicts.empty()) { EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err; }
        if (c.verdicts.size() > 1) {
            size_t pass = 0, fail = 0, error = 0;
            for (const std::string& v : c.verdicts) ++(v == "PASS" ? pass : v == "FAIL" ? fail : error);
            EXPECT_EQ(linesOf(r.out).back(), std::to_string(c.verdicts.size()) + " inputs: " + std::to_string(pass) +
                                                 " PASS, " + std::to_string(fail) + " FAIL, " + std::to_string(error) +
                                                 " ERROR");
        }
        // One input: the verdict is the single run's own gate status with the same profile.
        if (c.verdicts.size() == 1 && c.verdicts[0] != "ERROR") {
            const size_t space = std::min(c.args.find(' '), c.args.size());
            const std::string options = c.args.substr(space);
            const std::string profile = options.find("--profile") == std::string::npos ? " --profile broadcast" : "";
            const RunResult run =
                runIn(dir, "--quiet --no-log" + profile + options + " " + c.args.substr(0, space) + " 16 16");
            EXPECT_EQ(run.status, c.status) << run.err;
        }
    }
}

// The events of a verdict are the JSON report's events of the gated kinds,
// with the timecodes of their first and last frames counted label by label
// (drop-frame at 29.97 and 59.94) from the container's start timecode.
TEST(Check, VerdictEventsAreTheReportsEventsWithTimecodes) {
    WorkDir dir;
    writeText(dir, "black.json", R"({"settings": {"min_black": 0}, "gates": ["black.count>0"]})");
    const bool decoders = runShell("command -v ffmpeg >/dev/null 2>&1") == 0
#ifndef LUMAQC_LIBAV_MODULE_NAME
                          && false
#endif
        ;
    const struct {
        std::string kinds;
        const char* fps;
        LabelClock start;
        const char* container;  // "" for raw; else made by ffmpeg with the start timecode
    } cases[] = {
        {kindsOf({{'n', 20}, {'b', 9}, {'n', 40}, {'b', 1}, {'n', 5}}), "25", {0, 0, 0, 0, 25, 0}, ""},
        {kindsOf({{'n', 1780}, {'b', 70}, {'n', 60}, {'b', 3}, {'n', 2}}), "29.97", {0, 0, 0, 0, 30, 2}, ""},
        {kindsOf({{'n', 3590}, {'b', 20}, {'n', 30}}), "59.94", {0, 0, 0, 0, 60, 4}, ""},
        {kindsOf({{'n', 30}, {'b', 12}, {'n', 20}}), "25", {1, 0, 0, 0, 25, 0}, "mov"},
        {kindsOf({{'n', 30}, {'b', 12}, {'n', 20}}), "30000/1001", {10, 0, 0, 0, 30, 2}, "mov"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fps) + " " + c.container);
        if (*c.container != '\0' && !decoders) continue;
        dir.write("c.yuv", clipOfKinds(c.kinds));
        std::string input = "c.yuv --size 16x16 --fps " + std::string(c.fps), single = "--fps " + std::string(c.fps) + " c.yuv 16 16";
        if (*c.container != '\0') {
            ASSERT_EQ(runShell("cd '" + dir.path + "' && ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 16x16 -r " +
                               c.fps + " -i c.yuv -c:v ffv1 -timecode '" + c.start.text() + "' -y c." + c.container),
                      0);
            input = single = std::string("c.") + c.container;
        }
        const RunResult report = runIn(dir, "--quiet --no-log --profile black.json --json r.json " + single);
        ASSERT_EQ(report.status, 1) << report.err;
        const auto doc = nlohmann::json::parse(readFile(dir.file("r.json")));
        std::vector<std::string> expected;
        for (const auto& e : doc["events"])
            if (e["type"] == "black") {
                const int64_t first = e["first_frame"], last = e["last_frame"];
                expected.push_back("  black " + c.start.after(first) + "-" + c.start.after(last) + " | frames " +
                                   std::to_string(first) + "-" + std::to_string(last));
            }
        ASSERT_FALSE(expected.empty());
        const RunResult r = runIn(dir, "check --profile black.json " + input);
        EXPECT_EQ(r.status, 1) << r.err;
        std::vector<std::string> printed;
        for (const std::string& line : linesOf(r.out))
            if (line.rfind("  black ", 0) == 0)
                printed.push_back(line.substr(0, line.find(' ', 8)) + " |" + line.substr(line.rfind(" frames ")));
        EXPECT_EQ(printed, expected) << r.out;
    }
}
