// The reports of one run, driven by the command line: open once the input is
// known, a row per analysed frame, finish on every way out of the run.
//
//     report::Session session(options, settings, streams);
//     if (std::string e = session.reserve(); !e.empty()) -> error, exit 255
//     other checks; on a failure: session.abandon(), error, exit 255
//     if (std::string e = session.open(); !e.empty()) -> error, exit 255
//     per frame: if (session.consoleRows()) { session.beforeConsoleText(); print the row; }
//                session.addRow(row);
//     at the end: const auto& r = session.finish(RunStatus::Completed or Failed);
//                 return exitStatus(status, r);
// The destructor finishes a session that was not finished (as Failed), so the
// JSON document is complete on an early return too.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "report/gates.hpp"
#include "report/options.hpp"
#include "report/pooling.hpp"
#include "report/progress.hpp"
#include "report/segments.hpp"
#include "report/writers.hpp"

namespace lumaqc::report {

struct Streams {
    std::FILE* console = stdout;  // events, summary, gates (stderr when a report is on stdout)
    std::FILE* output = stdout;   // where "-" reports go
    std::FILE* error = stderr;    // the progress line
    bool errorIsTerminal = false;
    ProgressMeter::Clock clock;   // monotonic seconds; null: std::chrono::steady_clock
    int64_t progressTotal = -1;   // frames the progress line expects; below 0: the frames requested
};

enum class RunStatus { Completed, Failed };

struct FinishResult {
    std::vector<GateResult> gates;
    bool tripped = false;      // a gate tripped
    std::string writeError;    // a report could not be written completely
};

// 255 for a failed run or a report that could not be written, else 1 when a
// gate tripped, else 0.
int exitStatus(RunStatus status, const FinishResult& result);

class Session {
public:
    Session(const ReportOptions& options, const StreamSettings& settings, const Streams& streams);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens every report file for writing without emptying any, creating the
    // missing ones; an error text when one cannot be opened, and then the files
    // this call created are removed again and the others left as they were.
    std::string reserve();
    // Gives the reserved files up: those reserve() created are removed, the
    // others left as they were.
    void abandon();
    // Reserves the files unless done, then empties them and writes their
    // heads; an error text when one cannot be created (nothing else is written
    // then).
    std::string open();

    // Whether the command line prints the per-frame console rows (not --quiet).
    bool consoleRows() const { return !options_.quiet; }
    // Erases the progress line before the command line writes to the terminal.
    void beforeConsoleText();

    void addRow(const FrameRow& row);
    // A warning of the reader (without "Warning: "), for the JSON report's "warnings".
    void addWarning(const std::string& text) { warnings_.push_back(text); }
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Closes the open segments, pools, evaluates the gates, writes the tails
    // of the reports and the summary; later calls return the same result.
    const FinishResult& finish(RunStatus status);

    // The data of a finished session, for other report formats.
    const std::vector<PooledColumn>& pooled() const { return pooled_; }
    const std::vector<Segment>& segments() const { return segments_; }
    const SegmentDetector& detector() const { return detector_; }
    // The segments that count for the gates, those waived, and those at the
    // run's edges (--edge); together they are segments().
    const std::vector<Segment>& gatedSegments() const { return gated_; }
    const std::vector<Segment>& waivedSegments() const { return waived_; }
    const std::vector<Segment>& edgeSegments() const { return edge_; }
    std::array<SegmentSummary, kSegmentKindCount> segmentSummary() const { return summarise(segments_); }

private:
    void printConsole(const std::string& text);
    static void noteWriteError(std::FILE* file, int& error);
    std::FILE* adoptReport(int& fd, const std::string& path, std::string* error);

    ReportOptions options_;
    StreamSettings settings_;
    Streams streams_;
    int jsonFd_ = -1, csvFd_ = -1;         // reserved, not yet emptied
    std::vector<std::string> created_;      // the files reserve() created
    bool reserved_ = false;
    int jsonError_ = 0, csvError_ = 0;     // the first failed write's reason
    std::FILE* jsonFile_ = nullptr;
    std::FILE* csvFile_ = nullptr;
    std::unique_ptr<JsonWriter> json_;
    std::unique_ptr<CsvWriter> csv_;
    std::unique_ptr<Pool> pool_;
    SegmentDetector detector_;
    std::unique_ptr<ProgressMeter> progress_;
    std::vector<Segment> segments_;
    std::vector<Segment> gated_, waived_, edge_;
    std::vector<std::string> warnings_;
    double firstTime_ = 0.0, endTime_ = 0.0;  // the run's span in seconds
    std::vector<PooledColumn> pooled_;
    int64_t rows_ = 0;
    bool opened_ = false;
    std::optional<FinishResult> result_;
};

}  // namespace lumaqc::report
