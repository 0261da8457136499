// Many inputs: every input gets reports of its own whatever the names given,
// and malformed batch options are refused before any input runs.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "e2e/runner.hpp"

namespace {

// One whole 16 x 16 frame.
const std::string kFrame(16 * 16 * 3 / 2, '\x50');

std::string batch(const WorkDir& dir, const std::string& args) {
    return "cd '" + dir.path + "' && '" LUMAQC_BINARY "' --json-dir out --csv-dir out " + args +
           " > summary.txt 2> errors.txt";
}

}  // namespace

TEST(BatchNames, EveryInputHasAReportOfItsOwn) {
    const struct {
        std::vector<std::string> inputs;
        std::vector<std::string> names;  // the reports, in input order
        bool reportColumn;               // the summary says which is whose
    } cases[] = {
        {{"a.yuv", "b.yuv"}, {"a.yuv", "b.yuv"}, false},
        {{"d1/a.yuv", "d2/a.yuv"}, {"a.yuv", "a.yuv.2"}, true},
        {{"d1/a.yuv", "d2/a.yuv", "d3/a.yuv"}, {"a.yuv", "a.yuv.2", "a.yuv.3"}, true},
        {{"d1/a.yuv", "d2/a.yuv", "a.yuv.2"}, {"a.yuv", "a.yuv.3", "a.yuv.2"}, true},
        {{"a.yuv.2", "d1/a.yuv", "d2/a.yuv"}, {"a.yuv.2", "a.yuv", "a.yuv.3"}, true},
        {{"d1/a.yuv", "d2/a.yuv", "a.yuv.2", "d1/a.yuv.2", "a.yuv.3"},
         {"a.yuv", "a.yuv.4", "a.yuv.2", "a.yuv.2.2", "a.yuv.3"},
         true},
        {{"a.yuv", "a.yuv"}, {"a.yuv", "a.yuv.2"}, true},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        runShell("cd '" + dir.path + "' && mkdir d1 d2 d3 out");
        std::string given;
        for (const std::string& input : c.inputs) {
            std::ofstream(dir.file(input), std::ios::binary) << kFrame;
            given += " '" + input + "'";
        }
        SCOPED_TRACE(given);
        ASSERT_EQ(runShell(batch(dir, "--size 16x16" + given)), 0) << readFile(dir.file("errors.txt"));
        // Each report names its own input, and there are as many as inputs.
        std::set<std::string> reported;
        for (size_t k = 0; k < c.inputs.size(); ++k) {
            const auto json = nlohmann::json::parse(readFile(dir.file("out/" + c.names[k] + ".json")), nullptr, false);
            ASSERT_FALSE(json.is_discarded()) << c.names[k];
            EXPECT_EQ(json["settings"]["input"], dir.file(c.inputs[k])) << c.names[k];
            EXPECT_EQ(linesOf(readFile(dir.file("out/" + c.names[k] + ".csv"))).size(), 2u) << c.names[k];
            reported.insert(c.names[k]);
        }
        EXPECT_EQ(reported.size(), c.inputs.size());
        EXPECT_EQ(runShell("test $(ls '" + dir.file("out") + "' | wc -l) = " + std::to_string(2 * c.inputs.size())), 0);
        const std::vector<std::string> lines = linesOf(summaryOf(readFile(dir.file("summary.txt"))));
        ASSERT_EQ(lines.size(), c.inputs.size() + 1);
        EXPECT_EQ(lines[0].find(" report ") != std::string::npos, c.reportColumn) << lines[0];
        for (size_t k = 0; k < c.inputs.size(); ++k) {
            std::istringstream row(lines[k + 1]);
            std::string input, second;
            row >> input >> second;
            EXPECT_EQ(input, dir.file(c.inputs[k]));
            EXPECT_EQ(second, c.reportColumn ? c.names[k] : "ok");
        }
    }
}

TEST(BatchOptions, MalformedSizesAreRefusedAndCrLfListsRead) {
    const struct {
        std::string options;
        int status;
        std::string errors;
    } cases[] = {
        {"--size x", 255, "--size needs WIDTHxHEIGHT, not 'x'\n"},
        {"--size 1x2x3", 255, "--size needs WIDTHxHEIGHT, not '1x2x3'\n"},
        {"--size 0x5", 255, "--size needs WIDTHxHEIGHT, not '0x5'\n"},
        {"--size 16x0", 255, "--size needs WIDTHxHEIGHT, not '16x0'\n"},
        {"--size 16x", 255, "--size needs WIDTHxHEIGHT, not '16x'\n"},
        {"--size x16", 255, "--size needs WIDTHxHEIGHT, not 'x16'\n"},
        {"--size 16", 255, "--size needs WIDTHxHEIGHT, not '16'\n"},
        {"--size -16x16", 255, "--size needs WIDTHxHEIGHT, not '-16x16'\n"},
        {"--size 99999999999x16", 255, "--size needs WIDTHxHEIGHT, not '99999999999x16'\n"},
        {"--size 100000x100000", 255,
         "--size 100000x100000: WIDTH x HEIGHT 100000 x 100000 is too large: at most 715827882 pixels per frame are "
         "supported\n"},
        {"--size 16x16 --list crlf.txt", 0, ""},
        {"--size 16x16 --list lf.txt", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        WorkDir dir;
        runShell("cd '" + dir.path + "' && mkdir out");
        std::ofstream(dir.file("a.yuv"), std::ios::binary) << kFrame;
        std::ofstream(dir.file("b.yuv"), std::ios::binary) << kFrame;
        std::ofstream(dir.file("crlf.txt"), std::ios::binary) << "# inputs\r\na.yuv\r\nb.yuv\r\n";
        std::ofstream(dir.file("lf.txt"), std::ios::binary) << "# inputs\na.yuv\nb.yuv\n";
        EXPECT_EQ(runShell(batch(dir, c.options + (c.status == 0 ? "" : " a.yuv"))), c.status);
        EXPECT_EQ(readFile(dir.file("errors.txt")), c.errors);
        // A refused run leaves nothing; a list's inputs each have their report.
        for (const std::string name : {"a.yuv", "b.yuv"})
            EXPECT_EQ(fileExists(dir.file("out/" + name + ".json")), c.status == 0) << name;
    }
}
