#include "report/writers.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>

#include "lumaqc/version.h"
#include "report/numbers.hpp"
#include "report/pooling.hpp"

namespace lumaqc::report {

bool writableKind(const struct stat& file) {
    if (S_ISREG(file.st_mode) || S_ISCHR(file.st_mode)) return true;
    struct stat out {};
    return (S_ISFIFO(file.st_mode) || S_ISSOCK(file.st_mode)) && ::fstat(STDOUT_FILENO, &out) == 0 &&
           out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

std::string notAFileError(const std::string& subject) { return subject + ": it is not a regular file"; }

std::string fileIdentity(int folder, const std::string& path) {
    struct stat st {};
    if (::fstatat(folder, path.c_str(), &st, 0) == 0)
        return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (path[0] != '/' && folder != AT_FDCWD) dir = "/proc/self/fd/" + std::to_string(folder) + "/" + dir;
    char resolved[PATH_MAX];
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return std::string("path:") + (::realpath(dir.c_str(), resolved) != nullptr ? resolved : dir) + "/" + name;
}

static void put(std::FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }

std::string JsonWriter::settingsJson(const StreamSettings& s, const SegmentOptions& segments) {
    std::string out = "{\"input\": ";
    appendJsonString(out, s.input);
    out += ", \"reader\": ";
    appendJsonString(out, s.reader);
    out += ", \"width\": " + std::to_string(s.width) + ", \"height\": " + std::to_string(s.height) + ", \"fps\": ";
    appendJsonNumber(out, s.fps);
    out += ", \"frames\": " + (s.frames >= 0 ? std::to_string(s.frames) : std::string("null"));
    out += ", \"start\": " + std::to_string(s.start) + ", \"instruction_set\": ";
    appendJsonString(out, s.instructionSet);
    for (const auto& [key, value] : s.extra) {
        out += ", ";
        appendJsonString(out, key);
        out += ": " + value;
    }
    out += ", \"flash_screening\": ";
    appendJsonString(out, flashScreeningText());
    out += ", \"segments\": {";
    SegmentOptions values = segments;
    const std::vector<SegmentSetting>& settings = segmentSettings();
    for (size_t i = 0; i < settings.size(); ++i) {
        if (i > 0) out += ", ";
        appendJsonString(out, settings[i].key);
        out += ": ";
        appendJsonNumber(out, settings[i].field(values));
    }
    out += ", \"range\": ";
    appendJsonString(out, segments.rangeName);
    out += ", \"range_low\": " + std::to_string(segments.rangeLow) + ", \"range_high\": " +
           std::to_string(segments.rangeHigh) + ", \"range_area\": ";
    appendJsonNumber(out, segments.rangeArea);
    out += "}}";
    return out;
}

std::string JsonWriter::rowJson(const FrameRow& row, const StreamSettings& s) {
    std::string out = "{\"frameNum\": " + std::to_string(row.frame) + ", \"pts_time\": ";
    appendJsonNumber(out, rowTime(row, s.fps));
    out += ", \"metrics\": {";
    bool first = true;
    for (const Column& c : columns()) {
        if (c.kind == ColumnKind::FrameIndex) continue;
        if (!first) out += ", ";
        first = false;
        appendJsonString(out, c.name);
        out += ": ";
        if (isNullValue(c, row, s.width, s.height)) out += "null";
        else appendJsonNumber(out, columnValue(c, row));
    }
    out += "}}";
    return out;
}

JsonWriter::JsonWriter(std::FILE* out, const StreamSettings& settings, const SegmentOptions& segments)
    : out_(out), settings_(settings) {
    std::string head = "{\"version\": ";
    appendJsonString(head, LUMAQC_VERSION_STRING);
    head += ",\n\"settings\": " + settingsJson(settings, segments) + ",\n\"frames\": [";
    put(out_, head);
}

void JsonWriter::addRow(const FrameRow& row) {
    if (finished_) return;
    put(out_, (firstRow_ ? "\n" : ",\n") + rowJson(row, settings_));
    firstRow_ = false;
}

void JsonWriter::finish(const JsonTail& tail) {
    if (finished_) return;
    finished_ = true;
    std::string warnings;
    for (const std::string& w : tail.warnings) {
        warnings += warnings.empty() ? ",\n\"warnings\": [" : ", ";
        appendJsonString(warnings, w);
    }
    if (!warnings.empty()) warnings += "]";
    put(out_, "\n],\n\"pooled_metrics\": " + tail.pooledMetrics + ",\n\"segment_summary\": " + tail.segmentSummary +
                  ",\n\"events\": " + tail.events +
                  (tail.waived.empty() ? "" : ",\n\"waived\": " + tail.waived) + ",\n\"gates\": " + tail.gates + warnings +
                  ",\n\"frames_analysed\": " + std::to_string(tail.framesAnalysed) +
                  ",\n\"complete\": " + (tail.complete ? "true" : "false") + "}\n");
}

CsvWriter::CsvWriter(std::FILE* out, const StreamSettings& settings) : out_(out), settings_(settings) {
    put(out_, headerLine());
}

std::string CsvWriter::headerLine() {
    std::string out = "frame,pts_time";
    for (const Column& c : columns()) {
        if (c.kind == ColumnKind::FrameIndex) continue;
        out += ',';
        appendCsvField(out, c.name);
    }
    return out + "\r\n";
}

std::string CsvWriter::rowLine(const FrameRow& row, const StreamSettings& s) {
    std::string out = std::to_string(row.frame) + ",";
    const double time = rowTime(row, s.fps);
    if (std::isfinite(time)) appendShortest(out, time);
    for (const Column& c : columns()) {
        if (c.kind == ColumnKind::FrameIndex) continue;
        out += ',';
        if (!isNullValue(c, row, s.width, s.height)) appendShortest(out, columnValue(c, row));
    }
    return out + "\r\n";
}

void CsvWriter::addRow(const FrameRow& row) { put(out_, rowLine(row, settings_)); }

}  // namespace lumaqc::report
