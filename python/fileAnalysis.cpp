// analyze_file's native part: a whole input read by the command line's own
// readers (raw YUV, Y4M, anything FFmpeg's libraries read), analysed by one
// context with the GIL released, and the rows pooled and cut into segments by
// the report code, so that every number equals the one lumaqc's JSON report
// holds for the same run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding.hpp"
#include "driver/fileRun.hpp"
#include "report/frameRows.hpp"
#include "report/options.hpp"
#include "report/pooling.hpp"
#include "report/segments.hpp"
#include "report/verdict.hpp"
#ifdef LUMAQC_HAVE_PROFILES
#include "report/profiles.hpp"
#endif

namespace lumaqc::python {
namespace {

// Signals (Ctrl-C) are looked at between frames this often.
constexpr int64_t kSignalCheckFrames = 16;
// Rows reserved before the first frame at most.
constexpr int64_t kReservedRows = 1 << 16;

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

// The rows and warnings kept; Python's signal handlers run between frames
// every kSignalCheckFrames frames, with the GIL taken for it.
class Collector final : public driver::Sink {
public:
    explicit Collector(FileRun& run) : run_(run) {}
    void row(const FrameRow& row) override { run_.rows.push_back(row); }
    void warnings(std::vector<std::string>& texts) override {
        for (std::string& warning : texts) run_.warnings.push_back(std::move(warning));
    }
    bool stopRequested(int64_t read) override {
        if (read % kSignalCheckFrames != kSignalCheckFrames - 1) return false;
        const py::gil_scoped_acquire acquire;
        run_.interrupted = PyErr_CheckSignals() != 0;
        return run_.interrupted;
    }

private:
    FileRun& run_;
};

// Runs the analysis on the opened input.
void analyse(FileRequest& request, driver::FileRun& file, FileRun& run) {
    const io::StreamInfo& info = run.info;
    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.isa_mask = request.isaMask;
    settings.indicators = request.reference ? LUMAQC_INDICATORS_REFERENCE : LUMAQC_INDICATORS_FAST;
    settings.threads = request.threads > 1 ? request.threads : 0;
    settings.range_low = request.segments.rangeLow;
    settings.range_high = request.segments.rangeHigh;
    settings.message = collectMessage;
    settings.message_user = &run.messages;
    run.openStatus = file.openContext(settings);
    if (run.openStatus != LUMAQC_OK) return;
    uint32_t isa = 0;
    lumaqc_get_isa(file.context(), &isa);
    run.isa = isaName(isa);
    // The rows of the frames asked for, up to a bound: a huge file or count
    // grows the rows as frames arrive instead.
    int64_t expected = std::min(info.frameCount, kReservedRows);
    if (request.input.frames >= 0) expected = std::min(expected, request.input.frames);
    if (expected > 0) run.rows.reserve(static_cast<size_t>(expected));

    // To the input's end, or to the end of the count the reader was given.
    const driver::Span span{request.input.start, request.input.start, INT64_MAX};
    Collector collector(run);
    const driver::Outcome outcome = file.run(span, collector);
    const int64_t sent = outcome.frame - span.start;
    if (outcome.ending == driver::Ending::ReadError) {
        run.readError = outcome.read.message;
        run.systemError = outcome.read.systemError;
        if (info.reader == "raw" && run.systemError != 0 && run.readError.empty())
            run.readError = "Cannot read frame " + std::to_string(outcome.read.index) + " of " + request.input.path;
    } else if (outcome.ending == driver::Ending::ShortFrame) {
        run.warnings.push_back("The input ends before frame " + std::to_string(request.input.start + sent) + ": " +
                               std::to_string(sent) + " of " + std::to_string(request.input.frames) +
                               " requested frames analysed");
    }
}

template <typename T>
py::array_t<T> columnOf(const std::vector<FrameRow>& rows, T (*value)(const FrameRow&)) {
    py::array_t<T> column(static_cast<py::ssize_t>(rows.size()));
    T* out = column.mutable_data();
    for (const FrameRow& row : rows) *out++ = value(row);
    return column;
}

// The per-frame columns: the column table's order, then has_previous and
// pts_time (the row's time as the reports give it). NaN stands where the
// reports write null; a flag that may be null is a column of doubles.
py::dict columnsOf(const FileRun& run) {
    py::dict columns;
    const std::vector<FrameRow>& rows = run.rows;
    const int32_t width = run.info.width, height = run.info.height;
    for (const Column& c : lumaqc::columns()) {
        py::array values;
        if (c.kind == ColumnKind::FrameIndex) {
            values = columnOf<int64_t>(rows, [](const FrameRow& row) { return row.frame; });
        } else if (c.kind == ColumnKind::Flag && c.notComputed == LUMAQC_NOT_COMPUTED_NEVER) {
            py::array_t<uint8_t> flags(static_cast<py::ssize_t>(rows.size()));
            uint8_t* out = flags.mutable_data();
            for (const FrameRow& row : rows) *out++ = static_cast<uint8_t>(columnValue(c, row));
            values = flags;
        } else {
            py::array_t<double> reals(static_cast<py::ssize_t>(rows.size()));
            double* out = reals.mutable_data();
            for (const FrameRow& row : rows)
                *out++ = report::isNullValue(c, row, width, height) ? std::nan("") : columnValue(c, row);
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
                s >= report::kFirstFrameCountStat ? py::object(py::int_(static_cast<long long>(value)))
                                                  : py::object(py::float_(value));
        }
        pooled[columns()[column.column].name] = stats;
    }
    return pooled;
}

std::vector<report::Segment> segmentsOf(const FileRun& run, const report::SegmentOptions& options) {
    report::SegmentDetector detector(options, run.info.fps, run.info.width, run.info.height);
    std::vector<report::Segment> segments;
    for (const FrameRow& row : run.rows) detector.add(row, segments);
    detector.finish(segments);
    // In the order they start, as the reports list them.
    std::stable_sort(segments.begin(), segments.end(),
                     [](const report::Segment& a, const report::Segment& b) { return a.firstFrame < b.firstFrame; });
    return segments;
}

// The segments as the JSON report's "events", those of the kinds marked only.
py::list segmentList(const std::vector<report::Segment>& segments,
                     const std::vector<bool>& kinds = std::vector<bool>(report::kSegmentKindCount, true)) {
    py::list list;
    for (const report::Segment& s : segments) {
        if (!kinds[static_cast<size_t>(s.kind)]) continue;
        const std::string kind = report::segmentKindName(s.kind);
        py::dict segment;
        segment["type"] = kind;
        segment["first_frame"] = s.firstFrame;
        segment["last_frame"] = s.lastFrame;
        segment[py::str(kind + "_start")] = s.start;
        segment[py::str(kind + "_end")] = s.end;
        segment[py::str(kind + "_duration")] = s.duration;
        if (s.kind == report::SegmentKind::Letterbox || s.kind == report::SegmentKind::Pillarbox) {
            segment["top"] = s.bars[0];
            segment["bottom"] = s.bars[1];
            segment["left"] = s.bars[2];
            segment["right"] = s.bars[3];
            segment["crop"] = report::cropText(s);
        }
        if (s.kind == report::SegmentKind::Interlaced) segment["field_order"] = report::fieldOrderName(s.fieldOrder);
        if (s.kind == report::SegmentKind::OutOfRange) {
            segment["worst_frame"] = s.worstFrame;
            segment["worst_below_range"] = s.worstBelow;
            segment["worst_above_range"] = s.worstAbove;
        }
        if (s.kind == report::SegmentKind::Flash) {
            segment["peak_frame"] = s.peakFrame;
            segment["peak_flashes_per_second"] = s.peakRate;
        }
        list.append(segment);
    }
    return list;
}

py::dict summaryOf(const std::vector<report::Segment>& segments) {
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
    return summaries;
}

// The judging options of a profile and a waivers file (ValueError for a bad one).
report::ReportOptions judgingOptions(const std::string& profile, const std::vector<std::string>& profileFolders,
                                     const std::string& waivers, const report::SegmentOptions& segments) {
    report::ReportOptions options;
    options.segments = segments;
#ifdef LUMAQC_HAVE_PROFILES
    std::string error = applyProfile(profile, &options, profileFolders);
    if (error.empty() && !waivers.empty()) error = loadWaivers(waivers, &options.waivers);
    if (!error.empty()) raiseValueError(error);
#else
    (void)profile, (void)profileFolders, (void)waivers;
    raiseValueError("profiles need nlohmann's JSON library, which this module was built without");
#endif
    return options;
}

// {"passed", "profile", "events", "waived", "at_edges", "gates"}: the verdict
// lumaqc check gives, its events those of the kinds a gate is about.
py::dict verdictOf(const FileRun& run, const std::vector<report::Segment>& segments,
                   const report::ReportOptions& options) {
    report::Pool pool(run.info.width, run.info.height);
    for (const FrameRow& row : run.rows) pool.add(row);
    double runStart = 0.0, runEnd = 0.0;  // as the reports' session measures the run
    if (!run.rows.empty()) {
        runStart = report::rowTime(run.rows.front(), run.info.fps);
        runEnd = report::rowTime(run.rows.back(), run.info.fps) + 1.0 / run.info.fps;
    }
    const report::Verdict verdict = report::judgeRun(segments, pool.pooled(), options, runStart, runEnd);
    const std::vector<bool> kinds = report::gatedKinds(verdict.gates);
    py::list gates;
    for (const report::GateResult& g : verdict.gates) {
        py::dict gate;
        gate["expression"] = g.gate.expression;
        gate["value"] = g.value;
        gate["tripped"] = g.tripped;
        gates.append(gate);
    }
    py::dict result;
    result["passed"] = !verdict.tripped;
    result["profile"] = textOf(options.profile);
    result["events"] = segmentList(verdict.gated, kinds);
    result["waived"] = segmentList(verdict.waived, kinds);
    result["at_edges"] = segmentList(verdict.atEdges, kinds);
    result["gates"] = gates;
    return result;
}

py::list textsOf(const std::vector<std::string>& texts) {
    py::list list;
    for (const std::string& text : texts) list.append(textOf(text));
    return list;
}

py::dict analyzeFile(const std::string& path, int32_t width, int32_t height, const py::object& fps, int64_t frames,
                     int64_t start, int threads, const py::object& isa, bool reference, const std::string& format,
                     const std::map<std::string, double>& segmentSettings, int decoderThreads,
                     const std::string& range, double rangeArea, const std::string& profile,
                     const std::vector<std::string>& profileFolders, const std::string& waivers) {
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
    for (const auto& [key, value] : segmentSettings) {
        const report::SegmentSetting* setting = report::segmentSettingOfKey(key);
        if (setting == nullptr) throw py::value_error("lumaqc: unknown segment setting '" + key + "'");
        setting->field(request.segments) = value;
    }
    if (!report::parseRange(range, &request.segments.rangeLow, &request.segments.rangeHigh))
        raiseValueError("range must be 'r103', 'nominal', 'full' or 'LOW-HIGH' (codes 0 to 255, LOW <= HIGH), not '" +
                        range + "'");
    request.segments.rangeName = range;
    request.segments.rangeArea = rangeArea;
    // A profile's settings are the segments' then.
    std::optional<report::ReportOptions> judging;
    if (!profile.empty()) {
        judging = judgingOptions(profile, profileFolders, waivers, request.segments);
        request.segments = judging->segments;
    }

    FileRun run;
    std::string openError;
    {
        const py::gil_scoped_release release;
        driver::FileRun file;
        openError = file.openInput(request.input);
        if (openError.empty()) {
            run.info = file.info();
            analyse(request, file, run);
        }
    }
    if (!openError.empty()) raiseValueError(openError);
    if (run.openStatus != LUMAQC_OK)
        raiseStatus(run.openStatus, "width " + std::to_string(run.info.width) + ", height " +
                                        std::to_string(run.info.height) + ", threads " + std::to_string(threads));
    if (run.interrupted) throw py::error_already_set();
    if (!run.readError.empty()) {
        if (run.systemError != 0) {
            const py::object name = py::reinterpret_steal<py::object>(
                PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<py::ssize_t>(path.size())));
            if (!name) throw py::error_already_set();
            PyErr_SetObject(PyExc_OSError, py::make_tuple(run.systemError, textOf("lumaqc: " + run.readError), name).ptr());
            throw py::error_already_set();
        }
        raiseValueError(run.readError);
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
    const std::vector<report::Segment> segments = segmentsOf(run, request.segments);
    result["segments"] = segmentList(segments);
    result["segment_summary"] = summaryOf(segments);
    result["verdict"] = judging ? py::object(verdictOf(run, segments, *judging)) : py::object(py::none());
    result["flash_screening"] = report::flashScreeningText();
    result["warnings"] = textsOf(run.warnings);
    result["messages"] = textsOf(run.messages);
    return result;
}

// The stream an input holds, as the readers see it, read without analysing it.
py::dict probe(const std::string& path, int32_t width, int32_t height, const std::string& format) {
    io::InputRequest request;
    request.path = path;
    request.format = format;
    request.width = width;
    request.height = height;
    request.sizeGiven = width != 0 || height != 0;
    request.examine = true;
    std::string error;
    io::StreamInfo info;
    {
        const py::gil_scoped_release release;
        if (const std::unique_ptr<io::Reader> reader = io::openReader(request, &error)) info = reader->info();
    }
    if (!error.empty()) raiseValueError(error);
    py::dict stream;
    stream["reader"] = info.reader;
    stream["width"] = info.width;
    stream["height"] = info.height;
    stream["fps"] = info.fps;
    stream["fps_known"] = info.fpsKnown;
    stream["frames"] = info.frameCount >= 0 ? py::object(py::int_(info.frameCount)) : py::object(py::none());
    stream["damaged"] = info.damaged;
    stream["seekable"] = info.seekable;
    stream["expected_frames"] =
        info.expectedFrames >= 0 ? py::object(py::int_(info.expectedFrames)) : py::object(py::none());
    // Raw and Y4M frames lie at known offsets: a file of whole frames may be cut anywhere.
    std::string whole = info.wholeReason;
    if (info.reader != "libav")
        whole = path == "-"               ? "standard input"
                : !info.seekable          ? "the input is not seekable"
                : info.damaged            ? "a damaged frame follows its whole frames"
                : info.frameCount < 0     ? "its frames are not counted"
                                          : "";
    stream["cuttable"] = info.reader != "libav" ? whole.empty() : info.cuttable;
    stream["whole_reason"] = whole;
    return stream;
}

}  // namespace

void defineFileAnalysis(py::module_& m) {
    m.def("_analyze_file", &analyzeFile, py::arg("path"), py::arg("width"), py::arg("height"), py::arg("fps"),
          py::arg("frames"), py::arg("start"), py::arg("threads"), py::arg("isa"), py::arg("reference"),
          py::arg("input_format"), py::arg("segment_settings"), py::arg("decoder_threads"), py::arg("range"),
          py::arg("range_area"), py::arg("profile") = "", py::arg("profile_folders") = std::vector<std::string>{},
          py::arg("waivers") = "",
          "Reads and analyses a whole input; lumaqc.analyze_file checks the arguments and wraps the result.");
    m.def("_probe", &probe, py::arg("path"), py::arg("width") = 0, py::arg("height") = 0,
          py::arg("input_format") = "",
          "The stream of an input as the readers see it: {'reader', 'width', 'height', 'fps', 'fps_known', "
          "'frames' (whole frames, None when unknown), 'damaged' (a damaged frame follows them), 'seekable', "
          "'expected_frames' (the container's length, an estimate; None when unknown), 'cuttable' (a piece may "
          "start at any frame), 'whole_reason' (why not, '' when cuttable)}. "
          "Raises ValueError when no reader opens it.");
}

}  // namespace lumaqc::python
