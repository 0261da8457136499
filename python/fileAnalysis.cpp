// analyze_file's native part: a whole input read by the command line's own
// readers (raw YUV, Y4M, anything FFmpeg's libraries read), analysed by one
// context with the GIL released, and the rows pooled and cut into segments by
// the report code, so that every number equals the one lumaqc's JSON report
// holds for the same run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "binding.hpp"
#include "io/reader.hpp"
#include "report/frameRows.hpp"
#include "report/pooling.hpp"
#include "report/segments.hpp"

namespace lumaqc::python {
namespace {

// Signals (Ctrl-C) are looked at between frames this often.
constexpr int64_t kSignalCheckFrames = 16;

struct ContextCloser {
    void operator()(lumaqc_context* context) const { lumaqc_close(&context); }
};
using ContextHandle = std::unique_ptr<lumaqc_context, ContextCloser>;

struct FileRequest {
    io::InputRequest input;
    uint32_t isaMask = LUMAQC_ISA_ALL;
    bool reference = false;
    int threads = 0;
    report::SegmentOptions segments;
};

// What one run leaves behind; filled with the GIL released.
struct FileRun {
    io::StreamInfo info;
    std::string isa;
    std::vector<FrameRow> rows;
    std::vector<std::string> warnings;
    std::vector<std::string> messages;
    bool interrupted = false;   // a Python signal handler raised
    int openStatus = LUMAQC_OK; // lumaqc_open failed with this
    std::string readError;      // the input could not be read on
    int systemError = 0;        // errno of that error, when the system gave one
};

// Runs the analysis; true when the GIL-holding caller must look at signals.
void analyse(FileRequest& request, io::Reader& reader, FileRun& run) {
    const io::StreamInfo& info = run.info;
    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.fps = info.fps;
    settings.isa_mask = request.isaMask;
    settings.indicators = request.reference ? LUMAQC_INDICATORS_REFERENCE : LUMAQC_INDICATORS_FAST;
    settings.threads = request.threads > 1 ? request.threads : 0;
    settings.message = collectMessage;
    settings.message_user = &run.messages;
    lumaqc_context* opened = nullptr;
    run.openStatus = lumaqc_open(&opened, info.width, info.height, &settings);
    if (run.openStatus != LUMAQC_OK) return;
    const ContextHandle context(opened);
    uint32_t isa = 0;
    lumaqc_get_isa(context.get(), &isa);
    run.isa = isaName(isa);
    if (info.frameCount > 0) run.rows.reserve(static_cast<size_t>(info.frameCount));

    const bool ownTimes = info.reader != "raw" && info.reader != "y4m";
    std::deque<double> presentationTimes;  // of the frames in flight, oldest first
    auto receiveOne = [&] {
        FrameRow row;
        lumaqc_receive_result(context.get(), &row.values);
        row.frame = request.input.start + row.values.frame;
        row.ptsTime = presentationTimes.front();
        presentationTimes.pop_front();
        run.rows.push_back(row);
    };
    const bool raw = info.reader == "raw";
    for (int64_t sent = 0;; ++sent) {
        if (sent % kSignalCheckFrames == kSignalCheckFrames - 1) {
            const py::gil_scoped_acquire acquire;
            if (PyErr_CheckSignals() != 0) {
                run.interrupted = true;
                break;
            }
        }
        uint8_t* buffer = nullptr;
        while (lumaqc_frame_buffer(context.get(), &buffer) == LUMAQC_ERROR_AGAIN) receiveOne();
        reader.setTarget(buffer);
        io::ReadResult r = reader.next();
        for (std::string& warning : r.warnings) run.warnings.push_back(std::move(warning));
        if (r.status == io::ReadStatus::Error) {
            run.readError = r.message;
            run.systemError = r.systemError;
            if (raw && r.systemError != 0 && run.readError.empty())
                run.readError = "Cannot read frame " + std::to_string(r.index) + " of " + request.input.path;
            break;
        }
        if (r.status == io::ReadStatus::ShortFrame) {
            run.warnings.push_back("The input ends before frame " + std::to_string(request.input.start + sent) +
                                   ": " + std::to_string(sent) + " of " + std::to_string(request.input.frames) +
                                   " requested frames analysed");
            break;
        }
        if (r.status == io::ReadStatus::End) break;
        presentationTimes.push_back(ownTimes ? r.ptsTime : FrameRow{}.ptsTime);
        lumaqc_send_frame(context.get(), r.luma.data, r.luma.stride);
    }
    int inFlight = 0;
    lumaqc_frames_in_flight(context.get(), &inFlight);
    for (; inFlight > 0; --inFlight) receiveOne();
}

template <typename T>
py::array_t<T> columnOf(const std::vector<FrameRow>& rows, T (*value)(const FrameRow&)) {
    py::array_t<T> column(static_cast<py::ssize_t>(rows.size()));
    T* out = column.mutable_data();
    for (const FrameRow& row : rows) *out++ = value(row);
    return column;
}

// The per-frame columns: the column table's order, then has_previous and
// pts_time (the row's time as the reports give it).
py::dict columnsOf(const FileRun& run) {
    py::dict columns;
    const std::vector<FrameRow>& rows = run.rows;
    for (const Column& c : lumaqc::columns()) {
        py::array values;
        if (c.kind == ColumnKind::FrameIndex) {
            values = columnOf<int64_t>(rows, [](const FrameRow& row) { return row.frame; });
        } else if (c.kind == ColumnKind::Flag) {
            py::array_t<uint8_t> flags(static_cast<py::ssize_t>(rows.size()));
            uint8_t* out = flags.mutable_data();
            for (const FrameRow& row : rows) *out++ = static_cast<uint8_t>(columnValue(c, row));
            values = flags;
        } else {
            py::array_t<double> reals(static_cast<py::ssize_t>(rows.size()));
            double* out = reals.mutable_data();
            for (const FrameRow& row : rows) *out++ = columnValue(c, row);
            values = reals;
        }
        columns[c.name] = values;
    }
    columns["has_previous"] = columnOf<bool>(rows, [](const FrameRow& row) { return row.values.has_previous != 0; });
    py::array_t<double> times(static_cast<py::ssize_t>(rows.size()));
    double* out = times.mutable_data();
    for (const FrameRow& row : rows) *out++ = report::rowTime(row, run.info.fps);
    columns["pts_time"] = times;
    return columns;
}

// {"blockiness": {"min": ..., "count": N}, ...}: the JSON report's pooled_metrics
// (NaN where it writes null).
py::dict pooledOf(const FileRun& run) {
    report::Pool pool(run.info.width, run.info.height);
    for (const FrameRow& row : run.rows) pool.add(row);
    py::dict pooled;
    for (const report::PooledColumn& column : pool.pooled()) {
        py::dict stats;
        for (size_t s = 0; s < report::kStatCount; ++s) {
            const double value = report::statValue(column.stats, s);
            stats[report::kStatNames[s]] =
                s + 1 == report::kStatCount ? py::object(py::int_(column.stats.count)) : py::object(py::float_(value));
        }
        pooled[columns()[column.column].name] = stats;
    }
    return pooled;
}

py::tuple segmentsOf(const FileRun& run, const report::SegmentOptions& options) {
    report::SegmentDetector detector(options, run.info.fps);
    std::vector<report::Segment> segments;
    for (const FrameRow& row : run.rows) detector.add(row, segments);
    detector.finish(segments);
    py::list list;
    for (const report::Segment& s : segments) {
        const std::string kind = report::segmentKindName(s.kind);
        py::dict segment;
        segment["type"] = kind;
        segment["first_frame"] = s.firstFrame;
        segment["last_frame"] = s.lastFrame;
        segment[py::str(kind + "_start")] = s.start;
        segment[py::str(kind + "_end")] = s.end;
        segment[py::str(kind + "_duration")] = s.duration;
        list.append(segment);
    }
    const auto summary = report::summarise(segments);
    py::dict summaries;
    for (size_t k = 0; k < report::kSegmentKindCount; ++k) {
        py::dict one;
        one["count"] = summary[k].count;
        one["frames"] = summary[k].frames;
        one["total"] = summary[k].total;
        one["longest"] = summary[k].longest;
        summaries[report::segmentKindName(static_cast<report::SegmentKind>(k))] = one;
    }
    return py::make_tuple(list, summaries);
}

py::dict analyzeFile(const std::string& path, int32_t width, int32_t height, const py::object& fps, int64_t frames,
                     int64_t start, int threads, const py::object& isa, bool reference, const std::string& format,
                     const std::array<double, report::kSegmentKindCount>& minimumSeconds, double interlaceThreshold,
                     int decoderThreads) {
    FileRequest request;
    request.input.path = path;
    request.input.format = format;
    request.input.width = width;
    request.input.height = height;
    request.input.sizeGiven = width != 0 || height != 0;
    request.input.fpsGiven = !fps.is_none();
    request.input.fps = request.input.fpsGiven ? fps.cast<double>() : 25.0;
    request.input.start = start;
    request.input.frames = frames;
    request.input.threads = decoderThreads;
    request.isaMask = isaMask(isa);
    request.reference = reference;
    request.threads = threads;
    request.segments.minimumSeconds = minimumSeconds;
    request.segments.interlaceThreshold = interlaceThreshold;

    FileRun run;
    std::string openError;
    {
        const py::gil_scoped_release release;
        std::unique_ptr<io::Reader> reader = io::openReader(request.input, &openError);
        if (reader) {
            run.info = reader->info();
            analyse(request, *reader, run);
        }
    }
    if (!openError.empty()) throw py::value_error("lumaqc: " + openError);
    if (run.openStatus != LUMAQC_OK)
        raiseStatus(run.openStatus, "width " + std::to_string(run.info.width) + ", height " +
                                        std::to_string(run.info.height) + ", threads " + std::to_string(threads));
    if (run.interrupted) throw py::error_already_set();
    if (!run.readError.empty()) {
        if (run.systemError != 0) {
            PyErr_SetObject(PyExc_OSError,
                            py::make_tuple(run.systemError, "lumaqc: " + run.readError, path).ptr());
            throw py::error_already_set();
        }
        throw py::value_error("lumaqc: " + run.readError);
    }

    py::dict result;
    result["width"] = run.info.width;
    result["height"] = run.info.height;
    result["fps"] = run.info.fps;
    result["reader"] = run.info.reader;
    result["times"] = run.info.reader == "raw" || run.info.reader == "y4m" ? "frames" : "stream";
    result["isa"] = run.isa;
    result["columns"] = columnsOf(run);
    result["pooled"] = pooledOf(run);
    py::tuple segments = segmentsOf(run, request.segments);
    result["segments"] = segments[0];
    result["segment_summary"] = segments[1];
    result["warnings"] = run.warnings;
    result["messages"] = run.messages;
    return result;
}

}  // namespace

void defineFileAnalysis(py::module_& m) {
    m.def("_analyze_file", &analyzeFile, py::arg("path"), py::arg("width"), py::arg("height"), py::arg("fps"),
          py::arg("frames"), py::arg("start"), py::arg("threads"), py::arg("isa"), py::arg("reference"),
          py::arg("input_format"), py::arg("minimum_seconds"), py::arg("interlace_threshold"),
          py::arg("decoder_threads"),
          "Reads and analyses a whole input; lumaqc.analyze_file checks the arguments and wraps the result.");
}

}  // namespace lumaqc::python
