// The JSON and CSV reports, written as the run goes: a row per frame as it
// comes, the rest when the run ends.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "report/frameRows.hpp"
#include "report/segments.hpp"

namespace lumaqc::report {

// Reports and the log go to regular files, character devices (a terminal,
// /dev/null) or the pipe or socket that is this process's standard output
// (/dev/stdout); any other FIFO would block the run in open() and is refused,
// as are other sockets and block devices.
bool writableKind(const struct stat& file);
// subject + ": it is not a regular file"
std::string notAFileError(const std::string& subject);
// What a path names: "device:inode" when it exists, else its folder resolved
// plus its name; two paths name one file when these are equal. folder is the
// descriptor of the folder a relative path is taken from (AT_FDCWD: the
// working directory).
std::string fileIdentity(int folder, const std::string& path);

// What the reports tell about the stream and the run.
struct StreamSettings {
    std::string input;           // path of the input
    std::string reader;          // e.g. "raw"
    int32_t width = 0;
    int32_t height = 0;
    double fps = 25.0;
    int64_t frames = -1;         // frames requested, below 0 when unknown
    int64_t start = 0;           // first frame
    std::string instructionSet;  // e.g. "avx2"
    // Further settings, as JSON key and JSON text of the value.
    std::vector<std::pair<std::string, std::string>> extra;
};

// The end of the JSON document, as JSON texts.
struct JsonTail {
    std::string pooledMetrics = "{}";
    std::string segmentSummary = "{}";
    std::string events = "[]";
    std::string gates = "[]";
    std::string waived;  // the waived events, as "events"; empty: no key (no waivers given)
    std::vector<std::string> warnings;  // the reader's warnings; none: no key
    int64_t framesAnalysed = 0;
    bool complete = false;
};

// The JSON document:
// {"version": "1.0.0", "settings": {...}, "frames": [{"frameNum": 0, "pts_time": 0,
//  "metrics": {"blockiness": ..., ...}}, ...], "pooled_metrics": {...},
//  "segment_summary": {...}, "events": [...], "gates": [...],
//  "warnings": [...] (when there are), "frames_analysed": N, "complete": true}
// Values are the exact doubles in their shortest round-trip form; NaN, +-inf
// and the values that were not computed are null.
class JsonWriter {
public:
    JsonWriter(std::FILE* out, const StreamSettings& settings, const SegmentOptions& segments);
    void addRow(const FrameRow& row);
    // Writes the rest of the document; once only.
    void finish(const JsonTail& tail);
    static std::string settingsJson(const StreamSettings& settings, const SegmentOptions& segments);
    // One element of "frames".
    static std::string rowJson(const FrameRow& row, const StreamSettings& settings);

private:
    std::FILE* out_;
    StreamSettings settings_;
    bool firstRow_ = true;
    bool finished_ = false;
};

// RFC 4180 CSV: the header "frame,pts_time,<column names>", one record per
// frame, CRLF line ends, values in their shortest round-trip form, empty
// fields for the nulls.
class CsvWriter {
public:
    CsvWriter(std::FILE* out, const StreamSettings& settings);
    void addRow(const FrameRow& row);
    static std::string headerLine();
    static std::string rowLine(const FrameRow& row, const StreamSettings& settings);

private:
    std::FILE* out_;
    StreamSettings settings_;
};

}  // namespace lumaqc::report
