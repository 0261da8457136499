// The JSON and CSV reports read back: every value the exact double of the
// row, null (empty) exactly where the column table says "not computed" or the
// value is not finite; the JSON stays valid however the run ends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "report/session.hpp"
#include "rows.hpp"

using lumaqc::FrameRow;
using namespace lumaqc::report;
using namespace reporttest;

namespace {

struct Case {
    int32_t width, height;
    bool withPts;
    double fps;
};

const Case kCases[] = {{352, 288, false, 25.0}, {256, 256, true, 29.97}, {40, 47, false, 50.0},
                       {1920, 1080, true, 0.0}};

bool expectedNull(const lumaqc::Column& c, const FrameRow& row, const Case& k, double value) {
    return lumaqc::isNotComputed(c, row, k.width, k.height) || !std::isfinite(value);
}

const lumaqc::Column& columnNamed(const std::string& name) {
    for (const auto& c : lumaqc::columns())
        if (name == c.name) return c;
    throw std::runtime_error("no column " + name);
}

StreamSettings settingsOf(const Case& k) {
    StreamSettings s;
    s.input = "clip \"one\"\n\xff.yuv";  // a name that needs escaping and is not UTF-8
    s.reader = "raw";
    s.width = k.width;
    s.height = k.height;
    s.fps = k.fps;
    s.frames = 40;
    s.start = 7;
    s.instructionSet = "avx2";
    return s;
}

// Runs a session over rows with the JSON and CSV reports in memory.
struct ReportRun {
    CapturedFile jsonOut, csvOut, console;
    std::string json, csv;
};

void runSession(const Case& k, const std::vector<FrameRow>& rows, RunStatus status, bool callFinish, ReportRun& run) {
    ReportOptions options;
    options.jsonPath = "-";
    {
        ReportOptions csvOptions;
        csvOptions.csvPath = "-";
        Streams streams;
        streams.console = run.console.file;
        streams.output = run.jsonOut.file;
        Streams csvStreams = streams;
        csvStreams.output = run.csvOut.file;
        Session session(options, settingsOf(k), streams);
        Session csvSession(csvOptions, settingsOf(k), csvStreams);
        ASSERT_EQ(session.open(), "");
        ASSERT_EQ(csvSession.open(), "");
        for (const FrameRow& row : rows) {
            session.addRow(row);
            csvSession.addRow(row);
        }
        if (callFinish) {
            EXPECT_EQ(session.finish(status).writeError, "");
            csvSession.finish(status);
        }
    }
    run.json = run.jsonOut.text();
    run.csv = run.csvOut.text();
}

}  // namespace

TEST(JsonReport, ValuesReadBackBitForBitAndNullsWhereNotComputed) {
    uint64_t seed = 11;
    for (const Case& k : kCases) {
        const auto rows = awkwardRows(seed++, 40, 7, k.withPts);
        ReportRun run;
        runSession(k, rows, RunStatus::Completed, true, run);
        const auto doc = nlohmann::json::parse(run.json);
        EXPECT_EQ(doc["settings"]["input"], "clip \"one\"\n\xef\xbf\xbd.yuv");
        EXPECT_EQ(doc["complete"], true);
        ASSERT_EQ(doc["frames"].size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const auto& f = doc["frames"][i];
            EXPECT_EQ(f["frameNum"].get<int64_t>(), rows[i].frame);
            const double time = k.withPts ? rows[i].ptsTime : static_cast<double>(rows[i].frame) / k.fps;
            if (std::isfinite(time)) EXPECT_EQ(bitsOf(f["pts_time"].get<double>()), bitsOf(time));
            else EXPECT_TRUE(f["pts_time"].is_null());
            ASSERT_EQ(f["metrics"].size(), namedFields().size());
            for (const NamedField& field : namedFields()) {
                const double value = fieldValue(field, rows[i].values);
                const auto& written = f["metrics"][field.name];
                if (expectedNull(columnNamed(field.name), rows[i], k, value))
                    EXPECT_TRUE(written.is_null()) << field.name << " row " << i;
                else
                    EXPECT_EQ(bitsOf(written.get<double>()), bitsOf(value)) << field.name << " row " << i;
            }
        }
    }
}

TEST(CsvReport, ValuesReadBackBitForBitAndEmptyWhereNull) {
    uint64_t seed = 21;
    for (const Case& k : kCases) {
        const auto rows = awkwardRows(seed++, 40, 0, k.withPts);
        ReportRun run;
        runSession(k, rows, RunStatus::Completed, true, run);
        std::vector<std::vector<std::string>> records;
        std::stringstream in(run.csv);
        std::string line;
        while (std::getline(in, line)) {
            ASSERT_FALSE(line.empty());
            ASSERT_EQ(line.back(), '\r');  // CRLF line ends
            line.pop_back();
            std::vector<std::string> fields;
            std::stringstream ls(line);
            std::string field;
            while (std::getline(ls, field, ',')) fields.push_back(field);
            if (!line.empty() && line.back() == ',') fields.push_back("");
            records.push_back(fields);
        }
        ASSERT_EQ(records.size(), rows.size() + 1);
        ASSERT_EQ(records[0].size(), 2 + namedFields().size());
        EXPECT_EQ(records[0][0], "frame");
        EXPECT_EQ(records[0][1], "pts_time");
        for (size_t i = 0; i < rows.size(); ++i) {
            const auto& r = records[i + 1];
            ASSERT_EQ(r.size(), records[0].size());
            EXPECT_EQ(std::stoll(r[0]), rows[i].frame);
            for (size_t c = 2; c < r.size(); ++c) {
                const NamedField* field = nullptr;
                for (const NamedField& f : namedFields())
                    if (records[0][c] == f.name) field = &f;
                ASSERT_NE(field, nullptr) << records[0][c];
                const double value = fieldValue(*field, rows[i].values);
                if (expectedNull(columnNamed(field->name), rows[i], k, value)) {
                    EXPECT_EQ(r[c], "") << field->name;
                } else {
                    char* end = nullptr;
                    EXPECT_EQ(bitsOf(std::strtod(r[c].c_str(), &end)), bitsOf(value)) << field->name;
                    EXPECT_EQ(*end, '\0');
                }
            }
        }
    }
}

TEST(JsonReport, ValidWhateverTheWayOut) {
    const Case k = kCases[0];
    const auto rows = awkwardRows(5, 12, 0, false);
    struct Way {
        RunStatus status;
        bool callFinish;
        size_t rows;
        bool complete;
    };
    for (const Way& way : {Way{RunStatus::Failed, true, 5, false}, Way{RunStatus::Completed, false, 7, false},
                           Way{RunStatus::Failed, true, 0, false}, Way{RunStatus::Completed, true, 12, true}}) {
        ReportRun run;
        runSession(k, std::vector<FrameRow>(rows.begin(), rows.begin() + static_cast<long>(way.rows)), way.status,
                   way.callFinish, run);
        nlohmann::json doc;
        ASSERT_NO_THROW(doc = nlohmann::json::parse(run.json)) << run.json;
        EXPECT_EQ(doc["frames"].size(), way.rows);
        EXPECT_EQ(doc["frames_analysed"], way.rows);
        EXPECT_EQ(doc["complete"], way.complete);
        EXPECT_TRUE(doc["pooled_metrics"].is_object());
        EXPECT_TRUE(doc["events"].is_array());
    }
}
