// The HTML report's file handling: the system's reason on a failed write, an
// existing file left as it was unless the new page is complete, and the pinned
// library embedded byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "html/browser.hpp"
#include "html/rows.hpp"
#include "report/htmlReport.hpp"

namespace lumaqc::test {
namespace {

namespace fs = std::filesystem;
using report::HtmlReport;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(artifactDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

bool writeReport(const std::string& path, const std::vector<FrameRow>& rows, std::string* error) {
    HtmlReport report(path, 64, 64);
    for (const FrameRow& row : rows) report.addRow(row);
    return report.finish({{"fps", "25"}}, {}, {}, error);
}

TEST(HtmlReport, FailedWritesGiveTheSystemsReason) {
    const fs::path dir = freshDir("errors");
    const struct {
        std::string path;
        int expected;
        bool opens;  // the failure shows only once written
    } cases[] = {
        {(dir / "missing" / "report.html").string(), ENOENT, false},
        {dir.string(), EISDIR, false},
        {"/dev/full", ENOSPC, true},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(HtmlReport(c.path, 64, 64).canWrite(&error), c.opens) << c.path;
        if (!c.opens) {
            EXPECT_EQ(error, "Cannot write the report " + c.path + ": " + std::strerror(c.expected));
        }
        error.clear();
        EXPECT_FALSE(writeReport(c.path, syntheticRows(50, 0, false), &error)) << c.path;
        EXPECT_EQ(error, "Cannot write the report " + c.path + ": " + std::strerror(c.expected));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0) << "no temporary left";
}

TEST(HtmlReport, AnExistingFileIsReplacedOnlyByACompletePage) {
    const fs::path dir = freshDir("replace");
    const std::string path = (dir / "report.html").string();
    std::ofstream(path) << "earlier results";
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    std::vector<FrameRow> backwards = syntheticRows(10, 0, false);
    std::swap(backwards[3], backwards[4]);
    std::string error;
    EXPECT_FALSE(writeReport(path, backwards, &error));
    EXPECT_EQ(error, "Cannot write the report " + path + ": the rows are not in increasing frame order");
    EXPECT_EQ(readFile(path), "earlier results");

    ASSERT_TRUE(writeReport(path, syntheticRows(10, 0, false), &error)) << error;
    const std::string page = readFile(path);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the file keeps its permissions";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no temporary left";
}

TEST(HtmlReport, EmbedsThePinnedLibraryAndLoadsNothing) {
    const fs::path dir = freshDir("embed");
    const std::string path = (dir / "report.html").string();
    std::string error;
    ASSERT_TRUE(writeReport(path, syntheticRows(5, 0, false), &error)) << error;
    const std::string page = readFile(path);
    const std::string dist = std::string(LUMAQC_UPLOT_DIST) + "/";
    for (const char* file : {"uPlot.iife.min.js", "uPlot.min.css"}) {
        const std::string library = readFile(dist + file);
        ASSERT_GT(library.size(), 1000u) << file;
        EXPECT_NE(page.find(library), std::string::npos) << file << " is not embedded as installed";
    }
    for (const char* load : {" src=", " href=", "@import", "url("})
        EXPECT_EQ(page.find(load), std::string::npos) << load;
}

}  // namespace
}  // namespace lumaqc::test
