// A report that cannot be created ends the run before any report file of an
// earlier run is emptied: those stay byte for byte, the files this run made
// are gone again, and so is nothing else (the log of an earlier run included).
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "e2e/runner.hpp"

namespace {

const std::string kLog = "metricsResultsCSV.csv";

// Every entry of a folder with its bytes.
std::map<std::string, std::string> contentsOf(const WorkDir& dir) {
    std::map<std::string, std::string> files;
    DIR* d = ::opendir(dir.path.c_str());
    while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == ".stdout" || name == ".stderr") continue;
        files[name] = readFile(dir.file(name));
    }
    if (d != nullptr) ::closedir(d);
    return files;
}

bool htmlBuiltIn(const WorkDir& dir) {
    return runIn(dir, "--html page.html clip.yuv 352 288 25 1").err.find("not available") == std::string::npos;
}

}  // namespace

TEST(ReportFiles, OneThatCannotBeCreatedLeavesTheFilesOfAnEarlierRunAsTheyWere) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "' >/dev/null"), 0);
    const bool html = htmlBuiltIn(dir);
    runShell("cd '" + dir.path + "' && rm -f page.html " + kLog + " && mkdir folder");
    const std::map<std::string, std::string> flags = {{"json", "--json"}, {"csv", "--csv"}, {"html", "--html"}};
    const std::map<std::string, std::string> names = {{"json", "A.json"}, {"csv", "B.csv"}, {"html", "C.html"}};
    struct Case {
        std::string failing;  // the report that cannot be created ("" none)
        std::string path;     // its path then
        int error;            // and the system's reason
        bool othersExisted;   // whether the other reports are there from an earlier run
    };
    std::vector<Case> cases;
    for (const char* failing : {"json", "csv", "html"})
        for (bool existed : {true, false}) {
            cases.push_back({failing, "missing/R", ENOENT, existed});
            cases.push_back({failing, "folder", EISDIR, existed});
        }
    cases.push_back({"", "", 0, true});
    for (const Case& c : cases) {
        if (!html && c.failing == "html") continue;
        runShell("cd '" + dir.path + "' && rm -f A.json B.csv C.html");
        std::string args;
        for (const auto& [report, flag] : flags) {
            if (!html && report == "html") continue;
            const bool fails = report == c.failing;
            args += flag + " " + (fails ? c.path : names.at(report)) + " ";
            if (!fails && c.othersExisted) std::ofstream(dir.file(names.at(report))) << "earlier " << report << "\n";
        }
        std::ofstream(dir.file(kLog)) << "earlier log\n";
        const auto before = contentsOf(dir);
        const std::string what = args + (c.othersExisted ? "(others existed)" : "(others new)");
        const RunResult r = runIn(dir, args + "clip.yuv 352 288 25 3");
        if (c.failing.empty()) {
            // Nothing fails: the earlier reports are replaced.
            EXPECT_EQ(r.status, 0) << what << r.err;
            for (const auto& [report, name] : names)
                if (html || report != "html") {
                    EXPECT_NE(readFile(dir.file(name)), before.at(name)) << what;
                }
            EXPECT_NE(r.log, before.at(kLog));
            continue;
        }
        EXPECT_EQ(r.status, 255) << what;
        EXPECT_EQ(r.out, "") << what;
        const std::string reason = std::string(": ") + std::strerror(c.error) + "\n";
        EXPECT_EQ(linesOf(r.err).size(), 1u) << what << r.err;
        EXPECT_NE(r.err.find(" report " + c.path + reason), std::string::npos) << what << r.err;
        // Every file as it was, no file more or less, the log included.
        EXPECT_TRUE(contentsOf(dir) == before) << what;
    }
}
