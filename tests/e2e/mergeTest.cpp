// merge × malformed piece: each row changes a piece the program wrote (or
// joins pieces that do not rebuild one run); merge refuses it with one line
// naming the file and the field, status 255, and leaves the reports of an
// earlier merge as they were. The valid row gives the whole run's reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

#include "e2e/runner.hpp"

namespace {

using nlohmann::json;

struct Row {
    const char* what;
    std::vector<std::string> pieces;           // in the merge's order
    std::function<void(json&)> change;         // of piece "b.json", when set
    std::pair<std::string, std::string> text;  // replaces this text of b.json once, when set
    std::string message;                       // "" for a merge that succeeds
};

void write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

TEST(Merge, AMalformedPieceIsRefusedWithItsFieldAndNothingIsOverwritten) {
    WorkDir dir;
    ASSERT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("sample.yuv") + "' >/dev/null"), 0);
    const std::string lumaqc = "cd '" + dir.path + "' && '" LUMAQC_BINARY "' ";
    ASSERT_EQ(runShell(lumaqc + "--json whole.json --csv whole.csv sample.yuv 352 288 >/dev/null"), 0);
    ASSERT_EQ(runShell(lumaqc + "--run-start 0 --start 0 --frames 25 --json a.json sample.yuv 352 288 >/dev/null"), 0);
    ASSERT_EQ(runShell(lumaqc + "--run-start 0 --start 25 --frames 35 --json b0.json sample.yuv 352 288 >/dev/null"),
              0);
    // Runs that are no pieces: the same frames without --run-start.
    ASSERT_EQ(runShell(lumaqc + "--start 25 --frames 35 --json alone25.json sample.yuv 352 288 >/dev/null"), 0);
    ASSERT_EQ(runShell(lumaqc + "--start 0 --frames 25 --json alone0.json sample.yuv 352 288 >/dev/null"), 0);
    const std::string piece = readFile(dir.file("b0.json"));
    ASSERT_NE(piece.find("\"run_start\": 0"), std::string::npos);

    const std::vector<Row> rows = {
        {"valid pieces", {"a.json", "b.json"}, nullptr, {}, ""},
        {"a whole run alone", {"whole.json"}, nullptr, {}, ""},
        {"interrupted", {"a.json", "b.json"}, [](json& d) { d["complete"] = false; }, {}, "complete is false"},
        {"no run start", {"a.json", "b.json"}, [](json& d) { d["settings"].erase("run_start"); }, {},
         "settings.run_start is missing"},
        {"runs made without --run-start", {"alone0.json", "alone25.json"}, nullptr, {},
         "alone0.json: settings.run_start is missing"},
        {"a piece after a whole run", {"alone0.json", "b.json"}, nullptr, {}, "settings.run_start is missing"},
        {"another run start", {"a.json", "b.json"}, [](json& d) { d["settings"]["run_start"] = 9; }, {},
         "settings.run_start is 9, not the first piece's 0"},
        {"first piece not at the run start", {"b.json"}, nullptr, {}, "settings.start is 25: the first piece"},
        {"out of order", {"b.json", "a.json"}, nullptr, {}, "b.json: settings.start is 25"},
        {"a piece twice", {"a.json", "a.json"}, nullptr, {}, "settings.start is 0, not 25 where the piece before ends"},
        {"a gap between pieces", {"a.json", "b.json"},
         [](json& d) {
             d["settings"]["start"] = 33;
             for (size_t k = 0; k < d["frames"].size(); ++k) d["frames"][k]["frameNum"] = 33 + k;
         },
         {}, "settings.start is 33, not 25"},
        {"a gap in the frames", {"a.json", "b.json"}, [](json& d) { d["frames"][3]["frameNum"] = 29; }, {},
         "frames[3].frameNum is 29, not 28"},
        {"frames out of order", {"a.json", "b.json"}, [](json& d) { std::swap(d["frames"][2], d["frames"][3]); }, {},
         "frames[2].frameNum is 28, not 27"},
        {"frame number 2^70", {"a.json", "b.json"}, nullptr,
         {"\"frameNum\": 25,", "\"frameNum\": 1180591620717411303424,"},
         "frames[0].frameNum is not a whole number from 0 to 9223372036854775807"},
        {"frame number 2^63", {"a.json", "b.json"}, nullptr, {"\"frameNum\": 25,", "\"frameNum\": 9223372036854775808,"},
         "frames[0].frameNum is not a whole number"},
        {"flag 7", {"a.json", "b.json"}, [](json& d) { d["frames"][0]["metrics"]["blackout"] = 7; }, {},
         "frames[0].metrics.blackout is not a whole number from 0 to 1"},
        {"flag 0.5", {"a.json", "b.json"}, [](json& d) { d["frames"][4]["metrics"]["freezing"] = 0.5; }, {},
         "frames[4].metrics.freezing is not a whole number from 0 to 1"},
        {"a value as text", {"a.json", "b.json"}, [](json& d) { d["frames"][1]["metrics"]["blur"] = "1.5"; }, {},
         "frames[1].metrics.blur is not a number or null"},
        {"a value missing", {"a.json", "b.json"}, [](json& d) { d["frames"][1]["metrics"].erase("noise"); }, {},
         "frames[1].metrics.noise is missing"},
        {"width as text", {"a.json", "b.json"}, [](json& d) { d["settings"]["width"] = "352"; }, {},
         "settings.width is not a whole number from 1 to 2147483647"},
        {"width past 32 bits", {"a.json", "b.json"}, [](json& d) { d["settings"]["width"] = 4294967648LL; }, {},
         "settings.width is not a whole number from 1 to 2147483647"},
        {"another rate", {"a.json", "b.json"}, [](json& d) { d["settings"]["fps"] = 30; }, {},
         "settings.fps differs from the first piece's"},
        {"another input", {"a.json", "b.json"}, [](json& d) { d["settings"]["input"] = "other.yuv"; }, {},
         "settings.input differs"},
        {"rows miscounted", {"a.json", "b.json"}, [](json& d) { d["frames_analysed"] = 34; }, {},
         "frames_analysed is not the number of rows"},
        {"not JSON", {"a.json", "b.json"}, nullptr, {"{", "["}, "b.json: is not a lumaqc JSON report"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string text = piece;
        if (row.change) {
            json document = json::parse(piece);
            row.change(document);
            text = document.dump();
        }
        if (!row.text.first.empty()) {
            const size_t at = text.find(row.text.first);
            ASSERT_NE(at, std::string::npos);
            text.replace(at, row.text.first.size(), row.text.second);
        }
        write(dir.file("b.json"), text);
        const std::string earlier = "reports of an earlier merge\n";
        write(dir.file("m.json"), earlier);
        write(dir.file("m.csv"), earlier);
        std::string names;
        for (const std::string& name : row.pieces) names += " " + name;
        const int status = runShell(lumaqc + "merge --json m.json --csv m.csv" + names + " >/dev/null 2>errors.txt");
        const std::string errors = readFile(dir.file("errors.txt"));
        if (row.message.empty()) {
            EXPECT_EQ(status, 0) << errors;
            EXPECT_TRUE(readFile(dir.file("m.json")) == readFile(dir.file("whole.json")));
            EXPECT_TRUE(readFile(dir.file("m.csv")) == readFile(dir.file("whole.csv")));
            continue;
        }
        EXPECT_EQ(status, 255);
        EXPECT_EQ(errors.rfind("Cannot merge the piece ", 0), 0u) << errors;
        EXPECT_NE(errors.find(row.message), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_EQ(readFile(dir.file("m.json")), earlier);
        EXPECT_EQ(readFile(dir.file("m.csv")), earlier);
    }
}
