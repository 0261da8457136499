#include "merge.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "report/session.hpp"
#include "report.hpp"

namespace lumaqc {

namespace {

using nlohmann::json;

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

bool fault(std::string* error, const std::string& field, const std::string& problem) {
    *error = field + " " + problem;
    return false;
}

// The member key of an object, or a fault naming it.
const json* member(const json& object, const std::string& field, const char* key, std::string* error) {
    const auto at = object.find(key);
    if (at == object.end()) {
        fault(error, field.empty() ? key : field + "." + key, "is missing");
        return nullptr;
    }
    return &*at;
}

// A whole number in [low, high] (0 <= high): a fraction, a number past the
// 64-bit range (parsed as a double) or an unsigned one past high is refused,
// never wrapped.
bool integerOf(const json& v, const std::string& field, int64_t low, int64_t high, int64_t* out,
               std::string* error) {
    bool inRange = false;
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        inRange = u <= static_cast<uint64_t>(high) && static_cast<int64_t>(u) >= low;
    } else if (v.is_number_integer()) {
        inRange = v.get<int64_t>() >= low && v.get<int64_t>() <= high;
    }
    if (!inRange)
        return fault(error, field, "is not a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    *out = v.get<int64_t>();
    return true;
}

bool stringOf(const json& v, const std::string& field, std::string* out, std::string* error) {
    if (!v.is_string()) return fault(error, field, "is not a string");
    *out = v.get<std::string>();
    return true;
}

// A null in the report stands for a value that was not computed or not
// finite; pooling and the reports skip it either way.
bool valueOf(const json& v, const std::string& field, double* out, std::string* error) {
    if (v.is_null()) {
        *out = std::nan("");
        return true;
    }
    if (!v.is_number()) return fault(error, field, "is not a number or null");
    *out = v.get<double>();
    return true;
}

bool settingsOf(const json& s, MergePiece* piece, std::string* error) {
    const std::string field = "settings";
    if (!s.is_object()) return fault(error, field, "is not an object");
    report::StreamSettings& out = piece->settings;
    int64_t number = 0;
    const json* v = nullptr;
    if (!(v = member(s, field, "input", error)) || !stringOf(*v, "settings.input", &out.input, error)) return false;
    if (!(v = member(s, field, "reader", error)) || !stringOf(*v, "settings.reader", &out.reader, error)) return false;
    if (!(v = member(s, field, "width", error)) || !integerOf(*v, "settings.width", 1, kInt32Max, &number, error))
        return false;
    out.width = static_cast<int32_t>(number);
    if (!(v = member(s, field, "height", error)) || !integerOf(*v, "settings.height", 1, kInt32Max, &number, error))
        return false;
    out.height = static_cast<int32_t>(number);
    if (!(v = member(s, field, "fps", error)) || !valueOf(*v, "settings.fps", &out.fps, error)) return false;
    if (!(v = member(s, field, "frames", error))) return false;
    out.frames = -1;
    if (!v->is_null() && !integerOf(*v, "settings.frames", 0, kInt64Max, &out.frames, error)) return false;
    if (!(v = member(s, field, "start", error)) || !integerOf(*v, "settings.start", 0, kInt32Max, &out.start, error))
        return false;
    if (!(v = member(s, field, "instruction_set", error)) ||
        !stringOf(*v, "settings.instruction_set", &out.instructionSet, error))
        return false;
    if (s.contains("times")) {
        std::string times;
        if (!stringOf(s.at("times"), "settings.times", &times, error)) return false;
        if (times != "frames" && times != "stream")
            return fault(error, "settings.times", "is neither \"frames\" nor \"stream\"");
        piece->streamTimes = times == "stream";
        out.extra.push_back({"times", s.at("times").dump()});
    }
    if (s.contains("start_timecode")) {
        std::string timecode;
        if (!stringOf(s.at("start_timecode"), "settings.start_timecode", &timecode, error)) return false;
        out.extra.push_back({"start_timecode", s.at("start_timecode").dump()});
    }
    if (s.contains("run_start") &&
        !integerOf(s.at("run_start"), "settings.run_start", 0, out.start, &piece->runStart, error))
        return false;
    return true;
}

// The row of one frame as the whole run had it. Times that the run took as
// frame / fps stay unset, so that durations are counted the same way.
bool rowOf(const json& frame, const std::string& field, const MergePiece& piece, int64_t frameNum, FrameRow* row,
           std::string* error) {
    if (!frame.is_object()) return fault(error, field, "is not an object");
    const json* v = member(frame, field, "frameNum", error);
    if (v == nullptr || !integerOf(*v, field + ".frameNum", 0, kInt64Max, &row->frame, error)) return false;
    if (row->frame != frameNum)
        return fault(error, field + ".frameNum",
                     "is " + std::to_string(row->frame) + ", not " + std::to_string(frameNum) +
                         " (the frames follow one another from settings.start)");
    if (!(v = member(frame, field, "pts_time", error))) return false;
    double time = 0;
    if (!valueOf(*v, field + ".pts_time", &time, error)) return false;
    if (piece.streamTimes) row->ptsTime = time;
    const json* metrics = member(frame, field, "metrics", error);
    if (metrics == nullptr) return false;
    const std::string metricsField = field + ".metrics";
    if (!metrics->is_object()) return fault(error, metricsField, "is not an object");
    lumaqc_result& r = row->values;
    r.frame = row->frame - piece.settings.start;
    for (const Column& c : columns()) {
        if (c.kind == ColumnKind::FrameIndex) continue;
        if (!(v = member(*metrics, metricsField, c.name, error))) return false;
        const std::string name = metricsField + "." + c.name;
        char* at = reinterpret_cast<char*>(&r) + c.offset;
        if (c.kind == ColumnKind::Flag) {
            // Freezing has no value before the second frame: it is still 0 there.
            if (v->is_null()) continue;
            int64_t flag = 0;
            if (!integerOf(*v, name, 0, 1, &flag, error)) return false;
            *reinterpret_cast<uint8_t*>(at) = static_cast<uint8_t>(flag);
        } else {
            double d = 0;
            if (!valueOf(*v, name, &d, error)) return false;
            std::memcpy(at, &d, sizeof d);
        }
    }
    // Temporal activity is null exactly on the frame without a picture before.
    r.has_previous = metrics->at("temporal_activity").is_null() ? 0 : 1;
    return true;
}

std::string readAll(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "Cannot open the piece " + path + ": " + std::strerror(errno);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return "Cannot read the piece " + path + ": " + std::strerror(errno);
    *text = bytes.str();
    return "";
}

}  // namespace

bool parsePiece(const std::string& text, MergePiece* piece, std::string* error) {
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        *error = "is not a lumaqc JSON report";
        return false;
    }
    const json* v = nullptr;
    // An interrupted or failed run is not the whole of its piece.
    if (!(v = member(document, "", "complete", error))) return false;
    if (!v->is_boolean()) return fault(error, "complete", "is not true or false");
    if (!v->get<bool>()) return fault(error, "complete", "is false: the run that wrote it did not finish");
    if (!(v = member(document, "", "settings", error)) || !settingsOf(*v, piece, error)) return false;
    const json* frames = member(document, "", "frames", error);
    if (frames == nullptr) return false;
    if (!frames->is_array()) return fault(error, "frames", "is not an array");
    if (piece->settings.frames >= 0 && static_cast<int64_t>(frames->size()) > piece->settings.frames)
        return fault(error, "frames", "holds more rows than settings.frames");
    int64_t analysed = 0;
    if (!(v = member(document, "", "frames_analysed", error)) ||
        !integerOf(*v, "frames_analysed", 0, kInt64Max, &analysed, error))
        return false;
    if (analysed != static_cast<int64_t>(frames->size()))
        return fault(error, "frames_analysed", "is not the number of rows of frames");
    if (document.contains("warnings")) {
        const json& warnings = document["warnings"];
        if (!warnings.is_array()) return fault(error, "warnings", "is not an array");
        for (const json& w : warnings) {
            if (!w.is_string()) return fault(error, "warnings", "holds a value that is not a text");
            piece->warnings.push_back(w.get<std::string>());
        }
    }
    piece->rows.assign(frames->size(), FrameRow{});
    for (size_t k = 0; k < frames->size(); ++k)
        if (!rowOf((*frames)[k], "frames[" + std::to_string(k) + "]", *piece,
                   piece->settings.start + static_cast<int64_t>(k), &piece->rows[k], error))
            return false;
    return true;
}

bool checkPieces(const std::vector<MergePiece>& pieces, size_t* faulty, std::string* error) {
    const MergePiece& first = pieces.front();
    int64_t next = first.settings.start;
    for (size_t k = 0; k < pieces.size(); ++k) {
        *faulty = k;
        const MergePiece& p = pieces[k];
        // A run made without --run-start is whole: merge re-makes its reports, alone.
        if (p.runStart < 0 && pieces.size() > 1)
            return fault(error, "settings.run_start",
                         "is missing: a run made without --run-start is no piece and merges only alone");
        if (p.runStart != first.runStart)
            return fault(error, "settings.run_start",
                         "is " + std::to_string(p.runStart) + ", not the first piece's " +
                             std::to_string(first.runStart));
        if (k == 0 && p.runStart >= 0 && p.settings.start != p.runStart)
            return fault(error, "settings.start",
                         "is " + std::to_string(p.settings.start) + ": the first piece starts at the run start " +
                             std::to_string(p.runStart));
        const report::StreamSettings& s = p.settings;
        const report::StreamSettings& f = first.settings;
        const char* differs = s.input != f.input                        ? "input"
                              : s.reader != f.reader                    ? "reader"
                              : s.width != f.width                      ? "width"
                              : s.height != f.height                    ? "height"
                              : std::memcmp(&s.fps, &f.fps, sizeof s.fps) ? "fps"
                              : p.streamTimes != first.streamTimes      ? "times"
                                                                        : nullptr;
        if (differs != nullptr) return fault(error, std::string("settings.") + differs, "differs from the first piece's");
        if (s.start != next)
            return fault(error, "settings.start",
                         "is " + std::to_string(s.start) + ", not " + std::to_string(next) +
                             " where the piece before ends");
        next += static_cast<int64_t>(p.rows.size());
    }
    return true;
}

bool isMergeCommand(int argc, char** argv) {
    if (argc < 2) return false;
    if (std::strcmp(argv[1], "--merge") == 0) return true;
    struct stat st;
    return std::strcmp(argv[1], "merge") == 0 && ::stat("merge", &st) != 0;
}

int runMerge(int argc, char** argv) {
    std::vector<std::string> args(argv + 2, argv + argc);
    report::ReportOptions options;
    std::vector<std::string> paths;
    for (size_t i = 0; i < args.size();) {
        if (args[i].rfind("--", 0) != 0) {
            paths.push_back(args[i++]);
            continue;
        }
        std::string error;
        switch (report::parseReportOption(args, i, options, &error)) {
            case report::OptionStatus::Consumed: break;
            case report::OptionStatus::Error: errorLine(stderr, "%s", error.c_str()); return -1;
            case report::OptionStatus::Unknown:
                errorLine(stderr, "Unknown option %s for merge (see --help)", args[i].c_str());
                return -1;
        }
    }
    if (std::string error = report::checkReportOptions(options); !error.empty()) {
        errorLine(stderr, "%s", error.c_str());
        return -1;
    }
    if (paths.empty()) {
        errorLine(stderr, "Usage: %s merge [report options] PIECE.json...", argv[0]);
        return -1;
    }
    if (!options.htmlPath.empty()) {
        errorLine(stderr, "--html is not available for merge: give it to a whole run");
        return -1;
    }

    // Every piece is read and checked before any report file is opened, so a
    // refused merge leaves the reports of an earlier one as they were.
    std::vector<MergePiece> pieces(paths.size());
    for (size_t k = 0; k < paths.size(); ++k) {
        std::string text, error;
        if (error = readAll(paths[k], &text); !error.empty()) {
            errorLine(stderr, "%s", error.c_str());
            return -1;
        }
        if (!parsePiece(text, &pieces[k], &error)) {
            errorLine(stderr, "Cannot merge the piece %s: %s", paths[k].c_str(), error.c_str());
            return -1;
        }
    }
    size_t faulty = 0;
    if (std::string error; !checkPieces(pieces, &faulty, &error)) {
        errorLine(stderr, "Cannot merge the piece %s: %s", paths[faulty].c_str(), error.c_str());
        return -1;
    }

    // The whole run: the first piece's settings without its run start, all pieces' rows.
    report::StreamSettings stream = pieces.front().settings;
    stream.frames = 0;
    for (const MergePiece& p : pieces) stream.frames += static_cast<int64_t>(p.rows.size());
    // A last piece read to the end of a stream whose length is not known
    // ahead (a container) leaves it unknown, as the whole run does.
    if (pieces.back().runStart >= 0 && pieces.back().settings.frames < 0) stream.frames = -1;

    report::Streams streams;
    report::Session session(options, stream, streams);
    if (const std::string error = session.open(); !error.empty()) {
        errorLine(stderr, "%s", error.c_str());
        return -1;
    }
    for (const MergePiece& p : pieces)
        for (const std::string& warning : p.warnings) session.addWarning(warning);
    for (MergePiece& p : pieces)
        for (FrameRow& row : p.rows) {
            row.values.frame = row.frame - stream.start;
            session.addRow(row);
        }
    const report::FinishResult& result = session.finish(report::RunStatus::Completed);
    if (!result.writeError.empty()) errorLine(stderr, "%s", result.writeError.c_str());
    const int status = report::exitStatus(report::RunStatus::Completed, result);
    return status == 255 ? -1 : status;
}

}  // namespace lumaqc
