// The HTML report loaded in headless Chromium: every plot drawn with the values
// the writer was given, no script error and no blocked load, one zoom for all
// plots, the tables as given, and an hour at 50 fps in reasonable time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "html/browser.hpp"
#include "html/rows.hpp"
#include "report/htmlReport.hpp"
#include "report/segments.hpp"

namespace lumaqc::test {
namespace {

using report::HtmlReport;

struct Page {
    std::string path;
    std::vector<FrameRow> rows;
    int32_t width;
    int32_t height;
};

const std::vector<std::pair<std::string, std::string>> kSettings = {
    {"input", "clip \"one\" & <two>.yuv"},
    {"script", "</script><script>document.title='injected'</script>"},
    {"fps", "25"},
    {"note", "caf\xc3\xa9, 50\xc2\xa0%"},
};

const std::vector<report::html::Segment> kSegments = {
    {"black", 1080, 1119, 43.2, 44.8},
    {"freeze", 1210, 1279, 48.4, 51.2},
    {"interlaced", 1450, 1539, 58.0, 61.6},
};

const std::vector<report::html::Pooled> kPooled = {
    {"blockiness", 0.8, 1.2, 1.0, 0.98, 0.81, 0.82, 1.0, 1.18, 1.19, 600},
    {"contrast", 50.0, 55.99, 53.0, std::nan(""), 50.1, 50.3, 53.0, 55.7, 55.9, 594},
};

Page writePage(const std::string& name, int count, int32_t width, int32_t height, bool degenerate) {
    Page page{artifactDir() + "/" + name + ".html", syntheticRows(count, 1000, degenerate), width, height};
    HtmlReport report(page.path, width, height);
    for (const FrameRow& row : page.rows) report.addRow(row);
    std::string error;
    EXPECT_TRUE(report.finish(kSettings, kSegments, kPooled, &error)) << error;
    return page;
}

// Every indicator drawn, with exactly the values given (count, sum, min, max
// as read back by the browser), and nothing went wrong on the page.
void expectEveryPlotRendered(const Page& page, const RenderStatus& status) {
    ASSERT_TRUE(status.found) << "no render status in the page";
    EXPECT_TRUE(status.errors.empty()) << status.errors.front();
    const size_t values = lumaqc::columns().size() - 1;
    EXPECT_EQ(status.plots, static_cast<int>(values));  // every value column
    const size_t bucket = HtmlReport::bucketSize(page.rows.size(), values);
    EXPECT_EQ(status.bucket, static_cast<int64_t>(bucket));
    for (const auto& [name, expected] : plottedValues(page.rows, page.width, page.height, bucket)) {
        SCOPED_TRACE(name);
        ASSERT_EQ(status.plot.count(name), 1u);
        auto drawn = status.plot.at(name);
        EXPECT_EQ(std::stoll(drawn["points"]), expected.points);
        EXPECT_GE(std::stoi(drawn["draws"]), 1);
        EXPECT_EQ(std::stoi(drawn["painted"]) > 0, expected.points > 0) << "painted " << drawn["painted"];
        if (expected.points == 0) continue;
        EXPECT_EQ(std::strtod(drawn["sum"].c_str(), nullptr), expected.sum);
        EXPECT_EQ(std::strtod(drawn["min"].c_str(), nullptr), expected.min);
        EXPECT_EQ(std::strtod(drawn["max"].c_str(), nullptr), expected.max);
    }
}

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        chromium_ = findChromium();
        if (chromium_.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    }
    std::string chromium_;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(Browser, SmallReportRendersEveryPlotAndTheTablesAsGiven) {
    // 320 x 240: block loss is not computed at all; slice is.
    const Page page = writePage("small", 600, 320, 240, true);
    const BrowserRun run = runChromium(chromium_, "file://" + page.path, "--dump-dom", "small-dump");
    ASSERT_EQ(run.status, 0);
    expectEveryPlotRendered(page, readStatus(run.output));
    EXPECT_EQ(readStatus(run.output).plot["block_loss"]["points"], "0");

    // The four scripts of the page and no other; the settings' text shown as it is.
    EXPECT_EQ(count(run.output, "<script"), 4u);
    EXPECT_EQ(count(run.output, "<title>lumaqc report</title>"), 1u);
    for (const auto& [key, value] : kSettings) {
        std::string shown;  // as the browser serialises a text node
        for (char c : value) shown += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
        shown = std::string("<td>") + key + "</td><td>" + shown;
        size_t at;
        while ((at = shown.find("\xc2\xa0")) != std::string::npos) shown.replace(at, 2, "&nbsp;");
        EXPECT_EQ(count(run.output, shown), 1u) << shown;
    }
    // An event's kind and timecodes, a statistic's name.
    EXPECT_EQ(count(run.output, "<td class=\"text\">"), 2 * kSegments.size() + kPooled.size());
    // One swatch per kind of segment.
    EXPECT_EQ(count(run.output, "<span class=\"swatch\""), lumaqc::report::kSegmentKindCount);

    // A picture of the page, kept beside the report.
    const std::string png = artifactDir() + "/small.png";
    std::filesystem::remove(png);
    const BrowserRun shot =
        runChromium(chromium_, "file://" + page.path, "--screenshot=" + png + " --window-size=1280,3400", "small-shot");
    ASSERT_EQ(shot.status, 0);
    std::ifstream file(png, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_GT(bytes.size(), 20000u) << "a page of every plot is no near-empty picture";
}

TEST_F(Browser, ZoomingOnePlotZoomsEveryPlot) {
    const Page page = writePage("zoom", 400, 640, 360, false);
    for (auto [first, last] : {std::pair{1100, 1200}, std::pair{1003, 1010}}) {
        const std::string range = std::to_string(first) + "-" + std::to_string(last);
        const BrowserRun run = runChromium(chromium_, "file://" + page.path + "#frames=" + range, "--dump-dom",
                                           "zoom-" + range);
        ASSERT_EQ(run.status, 0);
        const RenderStatus status = readStatus(run.output);
        expectEveryPlotRendered(page, status);
        for (auto [name, drawn] : status.plot) {
            EXPECT_EQ(drawn["xMin"], std::to_string(first)) << name;
            EXPECT_EQ(drawn["xMax"], std::to_string(last)) << name;
        }
    }
}

TEST_F(Browser, NoFrameAndASingleFrameRenderWithoutError) {
    for (int frames : {0, 1}) {
        const Page page = writePage("frames" + std::to_string(frames), frames, 352, 288, false);
        const BrowserRun run = runChromium(chromium_, "file://" + page.path, "--dump-dom", page.path.substr(page.path.rfind('/') + 1));
        ASSERT_EQ(run.status, 0);
        expectEveryPlotRendered(page, readStatus(run.output));
    }
}

TEST_F(Browser, AnHourAtFiftyFramesPerSecondRenders) {
    const Page page = writePage("hour", 180000, 1920, 1080, true);
    const BrowserRun run = runChromium(chromium_, "file://" + page.path, "--dump-dom", "hour-dump");
    ASSERT_EQ(run.status, 0);
    const RenderStatus status = readStatus(run.output);
    expectEveryPlotRendered(page, status);
    std::printf("180000 rows: %.1f MB page, drawn in %.0f ms, browser run %.1f s\n",
                static_cast<double>(std::filesystem::file_size(page.path)) / 1e6, status.renderMs, run.seconds);
}

}  // namespace
}  // namespace lumaqc::test
