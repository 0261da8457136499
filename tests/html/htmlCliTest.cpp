// lumaqc --html FILE: the page of the sample clip renders in Chromium with the
// log's values, the console and the log stay as without the option, and a
// report that cannot be written stops the run before anything is replaced.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "e2e/runner.hpp"
#include "html/browser.hpp"
#include "report/frameRows.hpp"

namespace lumaqc::test {
namespace {

// Console text without the lines that carry processor times.
std::string withoutTimes(const std::string& console) {
    std::string kept;
    for (const std::string& line : linesOf(console))
        if (line.find(" ms") == std::string::npos && line.find("millisecond") == std::string::npos &&
            line.find("time") == std::string::npos)
            kept += line + "\n";
    return kept;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Decimals the log prints a column with ("%-5.3f" -> 3; integers 0).
int logDecimals(const Column& column) {
    const char* dot = std::strchr(column.logFormat, '.');
    return dot ? std::atoi(dot + 1) : 0;
}

TEST(CliHtml, SampleClipPageShowsTheLogsValuesAndChangesNothingElse) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("sample.yuv") + "' >/dev/null"), 0);
    const RunResult plain = runIn(dir, "sample.yuv 352 288");
    const RunResult html = runIn(dir, "sample.yuv 352 --html sample.html 288");
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_EQ(html.err, "");
    EXPECT_EQ(withoutTimes(html.out), withoutTimes(plain.out));
    EXPECT_EQ(html.log, plain.log);

    const std::string page = artifactDir() + "/sample.html";
    std::filesystem::copy_file(dir.file("sample.html"), page, std::filesystem::copy_options::overwrite_existing);
    const BrowserRun run = runChromium(chromium, "file://" + page, "--dump-dom", "sample-dump");
    ASSERT_EQ(run.status, 0);
    RenderStatus status = readStatus(run.output);
    ASSERT_TRUE(status.found);
    EXPECT_TRUE(status.errors.empty()) << status.errors.front();
    EXPECT_EQ(status.plots, static_cast<int>(lumaqc::columns().size()) - 1);  // every value column

    // Every column that always has a value: the page's range is the log's,
    // to the digits the log prints.
    const std::vector<std::string> rows = linesOf(plain.log);
    ASSERT_EQ(rows.size(), 61u);
    for (size_t c = 1; c < columns().size(); ++c) {
        const Column& column = columns()[c];
        SCOPED_TRACE(column.name);
        auto drawn = status.plot[column.name];
        EXPECT_GT(std::stoi(drawn["painted"]), 0);
        // The log holds the values of the rows only.
        if (column.notComputed != LUMAQC_NOT_COMPUTED_NEVER || (column.outputs & LUMAQC_OUTPUT_ROWS) == 0) continue;
        double lo = INFINITY, hi = -INFINITY;
        for (size_t r = 1; r < rows.size(); ++r) {
            const double v = std::strtod(fieldsOf(rows[r])[c].c_str(), nullptr);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const double tolerance = std::pow(10.0, -logDecimals(column)) + 1e-6 * std::max(std::fabs(lo), std::fabs(hi));
        EXPECT_EQ(drawn["points"], "60");
        EXPECT_NEAR(std::strtod(drawn["min"].c_str(), nullptr), lo, tolerance);
        EXPECT_NEAR(std::strtod(drawn["max"].c_str(), nullptr), hi, tolerance);
    }
    EXPECT_EQ(status.plot["temporal_activity"]["points"], "59");

    // The session's pooled statistics (one row per indicator) and segments:
    // the clip is black on frames 20 to 22 and frozen on 30 to 39.
    for (size_t c = 1; c < columns().size(); ++c)
        EXPECT_EQ(count(run.output, std::string("<td class=\"text\">") + columns()[c].name + "</td><td title="), 1u)
            << columns()[c].name;
    EXPECT_NE(run.output.find("<tr class=\"event\" data-first=\"20\" data-last=\"22\" title=\"Zoom every plot to this "
                              "event\"><td class=\"text\">black</td>"),
              std::string::npos);
    EXPECT_NE(run.output.find("<td class=\"text\">freeze</td>"), std::string::npos);
}

TEST(CliHtml, AReportThatCannotBeWrittenStopsTheRunFirst) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("sample.yuv") + "' >/dev/null"), 0);
    const struct {
        std::string args;
        std::string err;
    } cases[] = {
        {"sample.yuv 352 288 --html missing/r.html",
         "Cannot write the report missing/r.html: " + std::string(std::strerror(ENOENT)) + "\n"},
        {"sample.yuv 352 288 --html .", "Cannot write the report .: " + std::string(std::strerror(EISDIR)) + "\n"},
        {"sample.yuv 352 288 --html sample.yuv", "Cannot create the report sample.yuv: it is the input\n"},
        {"sample.yuv 352 288 --html", "--html needs a value\n"},
    };
    for (const auto& c : cases) {
        dir.write("metricsResultsCSV.csv", {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
        const RunResult r = runIn(dir, c.args);
        EXPECT_EQ(r.status, 255) << c.args;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.log, "earlier") << "the log of an earlier run stays";
    }
}

}  // namespace
}  // namespace lumaqc::test
