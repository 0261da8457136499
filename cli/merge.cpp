#include "merge.hpp"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "report/frameRows.hpp"
#include "report/session.hpp"

namespace lumaqc {

namespace {

using nlohmann::json;

struct Piece {
    std::string path;
    json document;
};

// A null in the report stands for a value that was not computed or not
// finite; pooling and the reports skip it either way.
double valueOf(const json& v) { return v.is_null() ? std::nan("") : v.get<double>(); }

// The row of one frame as the whole run had it. Times that the run took as
// frame / fps stay unset, so that durations are counted the same way.
bool rowOf(const json& frame, const report::StreamSettings& settings, bool streamTimes, FrameRow* row,
           std::string* error) {
    const json& metrics = frame.at("metrics");
    row->frame = frame.at("frameNum").get<int64_t>();
    if (streamTimes) row->ptsTime = valueOf(frame.at("pts_time"));
    lumaqc_result& r = row->values;
    r.frame = row->frame - settings.start;
    for (const Column& c : columns()) {
        if (c.kind == ColumnKind::FrameIndex) continue;
        const json& v = metrics.at(c.name);
        char* at = reinterpret_cast<char*>(&r) + c.offset;
        if (c.kind == ColumnKind::Flag) {
            // Freezing has no value before the second frame: it is still 0 there.
            if (v.is_null()) continue;
            if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 255) {
                *error = std::string("the flag ") + c.name + " of frame " + std::to_string(row->frame) + " is not 0 or 1";
                return false;
            }
            *reinterpret_cast<uint8_t*>(at) = static_cast<uint8_t>(v.get<int64_t>());
        } else {
            const double d = valueOf(v);
            std::memcpy(at, &d, sizeof d);
        }
    }
    // Temporal activity is null exactly on the frame without a picture before.
    r.has_previous = metrics.at("temporal_activity").is_null() ? 0 : 1;
    return true;
}

bool readPiece(const std::string& path, Piece* piece, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "Cannot open the piece " + path + ": " + std::strerror(errno);
        return false;
    }
    piece->path = path;
    piece->document = json::parse(in, nullptr, false);
    if (piece->document.is_discarded() || !piece->document.is_object() || !piece->document.contains("settings") ||
        !piece->document.contains("frames")) {
        *error = "The piece " + path + " is not a lumaqc JSON report";
        return false;
    }
    return true;
}

}  // namespace

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
            case report::OptionStatus::Error: std::fprintf(stderr, "%s\n", error.c_str()); return -1;
            case report::OptionStatus::Unknown:
                std::fprintf(stderr, "Unknown option %s for merge (see --help)\n", args[i].c_str());
                return -1;
        }
    }
    if (std::string error = report::checkReportOptions(options); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    if (paths.empty()) {
        std::fprintf(stderr, "Usage: %s merge [report options] PIECE.json...\n", argv[0]);
        return -1;
    }
    if (!options.htmlPath.empty()) {
        std::fprintf(stderr, "--html is not available for merge: give it to a whole run\n");
        return -1;
    }

    std::vector<Piece> pieces(paths.size());
    for (size_t k = 0; k < paths.size(); ++k) {
        std::string error;
        if (!readPiece(paths[k], &pieces[k], &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return -1;
        }
    }

    // The whole run: the first piece's settings, all pieces' frames.
    report::StreamSettings stream;
    bool streamTimes = false;
    int64_t frames = 0;
    try {
        const json& s = pieces.front().document.at("settings");
        stream.input = s.at("input").get<std::string>();
        stream.reader = s.at("reader").get<std::string>();
        stream.width = s.at("width").get<int32_t>();
        stream.height = s.at("height").get<int32_t>();
        stream.fps = valueOf(s.at("fps"));
        stream.start = s.at("start").get<int64_t>();
        stream.instructionSet = s.at("instruction_set").get<std::string>();
        streamTimes = s.value("times", std::string("frames")) == "stream";
        if (s.contains("times")) stream.extra.push_back({"times", s.at("times").dump()});
        int64_t next = stream.start;
        for (const Piece& p : pieces) {
            const json& ps = p.document.at("settings");
            for (const char* key : {"input", "reader", "width", "height", "fps"})
                if (ps.at(key) != s.at(key)) {
                    std::fprintf(stderr, "The piece %s has another %s than %s\n", p.path.c_str(), key,
                                 pieces.front().path.c_str());
                    return -1;
                }
            if (ps.at("start").get<int64_t>() != next) {
                std::fprintf(stderr, "The piece %s starts at frame %lld, not at %lld where the one before ends\n",
                             p.path.c_str(), static_cast<long long>(ps.at("start").get<int64_t>()),
                             static_cast<long long>(next));
                return -1;
            }
            const int64_t count = static_cast<int64_t>(p.document.at("frames").size());
            next += count;
            frames += count;
        }
    } catch (const json::exception& e) {
        std::fprintf(stderr, "A piece is not a complete lumaqc JSON report: %s\n", e.what());
        return -1;
    }
    stream.frames = frames;

    report::Streams streams;
    report::Session session(options, stream, streams);
    if (const std::string error = session.open(); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    for (const Piece& p : pieces) {
        for (const json& frame : p.document.at("frames")) {
            FrameRow row;
            std::string error;
            bool ok = false;
            try {
                ok = rowOf(frame, stream, streamTimes, &row, &error);
            } catch (const json::exception& e) {
                error = e.what();
            }
            if (!ok) {
                std::fprintf(stderr, "The piece %s has a bad frame: %s\n", p.path.c_str(), error.c_str());
                session.finish(report::RunStatus::Failed);
                return -1;
            }
            session.addRow(row);
        }
    }
    const report::FinishResult& result = session.finish(report::RunStatus::Completed);
    if (!result.writeError.empty()) std::fprintf(stderr, "%s\n", result.writeError.c_str());
    const int status = report::exitStatus(report::RunStatus::Completed, result);
    return status == 255 ? -1 : status;
}

}  // namespace lumaqc
