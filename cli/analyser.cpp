#include "analyser.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "arguments.hpp"
#include "commandOptions.hpp"
#include "io/reader.hpp"
#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"
#include "outputs.hpp"
#include "pieces.hpp"
#include "report.hpp"
#include "report/session.hpp"
#ifdef LUMAQC_HAVE_HTML
#include "report/htmlReport.hpp"
#endif

namespace lumaqc {

// Frame numbers are printed as 32-bit integers: frames from this one on are not analysed.
constexpr int64_t kFrameLimit = int64_t{INT32_MAX} + 1;

static void reportReadError(int64_t frame, size_t bytesRead, int32_t luma) {
    const int error = errno;
    std::printf("Some error occurred when reading the %" PRId64 " frame\n", frame);
    std::printf("Byte read = %d, Frame size = %d\n\n", static_cast<int>(bytesRead), luma);
    std::printf("Error code: %d \n", error);
    std::printf("Error description: %s \n", std::strerror(error));
}

// The indicators' messages appear on the console where they arise (the
// progress line, if shown, makes way first).
static void printMessage(void* user, const char* text) {
    if (report::Session* session = *static_cast<report::Session**>(user)) session->beforeConsoleText();
    std::fputs(text, stdout);
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

#ifdef LUMAQC_HAVE_HTML
// What the HTML page shows of the run: the settings, and the session's
// segments and pooled statistics in its own terms.
static std::vector<std::pair<std::string, std::string>> htmlSettings(const report::StreamSettings& stream,
                                                                     int indicators, int32_t analysed) {
    char fps[64];
    std::snprintf(fps, sizeof fps, "%g", stream.fps);
    return {{"input", stream.input},
            {"reader", stream.reader},
            {"width", std::to_string(stream.width)},
            {"height", std::to_string(stream.height)},
            {"fps", fps},
            {"start frame", std::to_string(stream.start)},
            {"frames requested", std::to_string(stream.frames)},
            {"frames analysed", std::to_string(analysed)},
            {"indicators", indicators == LUMAQC_INDICATORS_REFERENCE ? "reference" : "fast"},
            {"instruction set", stream.instructionSet},
            {"lumaqc", LUMAQC_VERSION_STRING}};
}

static std::vector<report::html::Segment> htmlSegments(const std::vector<report::Segment>& segments) {
    std::vector<report::html::Segment> shown;
    for (const report::Segment& s : segments)
        shown.push_back({report::segmentKindName(s.kind), s.firstFrame, s.lastFrame, s.start, s.end});
    return shown;
}

static std::vector<report::html::Pooled> htmlPooled(const std::vector<report::PooledColumn>& pooled) {
    std::vector<report::html::Pooled> shown;
    for (const report::PooledColumn& p : pooled) {
        const report::PooledStats& s = p.stats;
        shown.push_back({columns()[p.column].name, s.min, s.max, s.mean, s.harmonicMean, s.p1, s.p5, s.p50, s.p95,
                         s.p99, s.count});
    }
    return shown;
}
#endif

int runAnalyser(int argc, char** argv, int indicators) {
    // Before any file is opened, so that none becomes standard output.
    makeStandardDescriptorsValid();
    // The report options first; the rest is parsed as it always was.
    CommandLine line;
    const std::string badOption = splitCommandLine(argc, argv, &line);
    if (!badOption.empty()) {
        std::fprintf(stderr, "%s\n", badOption.c_str());
        return -1;
    }
#ifndef LUMAQC_HAVE_HTML
    if (!line.reports.htmlPath.empty()) {
        std::fputs("--html is not available: this lumaqc was built without the HTML report (LUMAQC_HTML=OFF)\n",
                   stderr);
        return -1;
    }
#endif
    argc = static_cast<int>(line.positional.size());
    argv = line.positional.data();

    Arguments args;
    switch (parseArguments(argc, argv, &args)) {
        case ParseStatus::TooFewArguments: std::fputs(usageText(argv[0]).c_str(), stdout); return -1;
        case ParseStatus::Help:
            std::fputs(helpText(argv[0]).c_str(), stdout);
            std::fputs(report::reportOptionsUsage(), stdout);
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                std::fprintf(stderr, "Cannot write to standard output: %s\n", std::strerror(errno));
                return -1;
            }
            return 0;
        case ParseStatus::BadOption: std::fprintf(stderr, "%s\n", args.error.c_str()); return -1;
        case ParseStatus::Ok: break;
    }
    for (const std::string& warning : args.warnings) std::fprintf(stderr, "Warning: %s\n", warning.c_str());
    catchStopSignals();

    // A piece of a longer run starts on one of that run's flickering period
    // boundaries, and first analyses without rows the frames its state needs.
    const int32_t start = args.startFrame;
    if (args.runStart >= 0 && !isPieceStart(args.runStart, start)) {
        std::fprintf(stderr, "%s\n", pieceStartError(args.runStart, start).c_str());
        return -1;
    }
    int32_t warmUpFrom = args.runStart >= 0 ? warmUpStart(args.runStart, start, args.fps) : start;

    // Opening checks the path first and then the sizes, as it always did.
    io::InputRequest request;
    request.path = args.videoPath;
    request.format = args.inputFormat;
    request.width = args.width;
    request.height = args.height;
    request.sizeGiven = args.sizeGiven;
    request.fps = args.fps;
    request.fpsGiven = args.fpsGiven;
    request.widthText = args.widthText;
    request.heightText = args.heightText;
    request.startText = args.startText;
    auto openFrom = [&](int32_t first, std::string* error) {
        request.start = first;
        request.frames = args.framesFromFile ? -1 : static_cast<int64_t>(std::max(args.frames, 0)) + (start - first);
        return io::openReader(request, error);
    };
    std::string error;
    std::unique_ptr<io::Reader> reader = openFrom(warmUpFrom, &error);
    // The stream's own rate may ask for a longer warm-up than the one guessed.
    if (reader && args.runStart >= 0 && warmUpStart(args.runStart, start, reader->info().fps) < warmUpFrom) {
        warmUpFrom = warmUpStart(args.runStart, start, reader->info().fps);
        reader.reset();
        reader = openFrom(warmUpFrom, &error);
    }
    if (!reader) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    const int32_t warmUp = start - warmUpFrom;
    const io::StreamInfo& info = reader->info();
    const bool raw = info.reader == "raw";
    if (raw && (info.width % 2 != 0 || info.height % 2 != 0)) {
        const int64_t pixels = int64_t{info.width} * info.height;
        const int64_t chroma = int64_t{(info.width + 1) / 2} * ((info.height + 1) / 2);
        std::fprintf(stderr,
                     "Warning: raw frames of %d x %d are read as %" PRId64 " bytes each (W x H x 3 / 2); "
                     "at an odd size encoders usually write chroma planes of %d x %d, %" PRId64
                     " bytes per frame\n",
                     info.width, info.height, pixels * 3 / 2, (info.width + 1) / 2, (info.height + 1) / 2,
                     pixels + 2 * chroma);
    }

    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.fps = info.fps;
    settings.indicators = args.reference ? LUMAQC_INDICATORS_REFERENCE : indicators;
    const int threads = args.threads > 0 ? args.threads : availableProcessors();
    settings.threads = threads > 1 ? threads : 0;
    settings.measure_time = 1;
    settings.analysis_path = analysisPathFromEnvironment();
    settings.message = printMessage;
    report::Session* messageSession = nullptr;
    settings.message_user = &messageSession;
    lumaqc_context* context = nullptr;
    if (lumaqc_open(&context, info.width, info.height, &settings) != LUMAQC_OK) {
        std::fprintf(stderr, "Cannot allocate pictures of %d x %d pixels\n", info.width, info.height);
        return -1;
    }

    const int32_t luma = info.width * info.height;
    // Streams have no count of whole frames until they end; a count whose
    // frames could not all be numbered is cut at the last number.
    const bool countKnown = !args.framesFromFile || info.frameCount >= 0;
    const int64_t available = std::max<int64_t>(info.frameCount - warmUp, 0);
    const int64_t numbered = std::min<int64_t>(kFrameLimit - start, INT32_MAX);
    const int32_t frames = !args.framesFromFile ? args.frames
                           : countKnown         ? static_cast<int32_t>(std::min(available, numbered))
                                                : 0;
    if (args.framesFromFile && countKnown && available > numbered)
        std::fprintf(stderr,
                     "Warning: %s holds %" PRId64 " frames from frame %d on; frame numbers end at 2147483647, "
                     "so %d of them are analysed\n",
                     args.videoPath, available, start, frames);
    // The frames asked for end here; the run stops at the last number.
    const int64_t requestedEnd = countKnown ? int64_t{start} + frames : INT64_MAX;
    const int64_t end = std::min(requestedEnd, kFrameLimit);
    if (countKnown && requestedEnd > kFrameLimit)
        std::fprintf(stderr,
                     "Warning: frame numbers end at 2147483647: the %" PRId64
                     " requested frames after it are not analysed\n",
                     requestedEnd - kFrameLimit);
    const bool readsFrames = warmUpFrom < end || warmUpFrom < start;
    const char* inputName = std::strcmp(args.videoPath, "-") == 0 ? "standard input" : args.videoPath;
    if (args.framesFromFile && countKnown && available == 0 && !readsFrames) {
        if (start == 0)
            std::fprintf(stderr, "Nothing to analyse: %s holds no whole frame\n", inputName);
        else
            std::fprintf(stderr, "Nothing to analyse: %s holds no whole frame from frame %d on\n", inputName,
                         start);
        lumaqc_close(&context);
        return -1;
    }
    // The first frame is read now: an input that holds no frame to analyse, or
    // cannot be read, leaves the log of an earlier run in place.
    io::ReadResult firstRead;
    if (readsFrames) {
        uint8_t* buffer = nullptr;
        lumaqc_frame_buffer(context, &buffer);
        reader->setTarget(buffer);
        firstRead = reader->next();
        if (firstRead.status != io::ReadStatus::Frame) {
            for (const std::string& warning : firstRead.warnings)
                std::fprintf(stderr, "Warning: %s\n", warning.c_str());
            if (firstRead.status == io::ReadStatus::Error && raw && firstRead.systemError != 0) {
                errno = firstRead.systemError;
                reportReadError(warmUpFrom, firstRead.bytesRead, luma);
            } else if (firstRead.status == io::ReadStatus::Error) {
                std::fprintf(stderr, "%s\n", firstRead.message.c_str());
            } else if (warmUpFrom == 0) {
                std::fprintf(stderr, "Nothing to analyse: %s holds no whole frame\n", inputName);
            } else {
                std::fprintf(stderr, "Nothing to analyse: %s ends before frame %d\n", inputName, warmUpFrom);
            }
            lumaqc_close(&context);
            return -1;
        }
    }

    // A report on standard output takes it over: the console text goes to the
    // error stream from here on.
    std::unique_ptr<FILE, FileCloser> reportOutput;
    if (line.reports.reportOnStandardOutput()) {
        std::fflush(stdout);
        const int kept = dup(STDOUT_FILENO);
        if (kept >= 0) reportOutput.reset(fdopen(kept, "w"));
        if (!reportOutput || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            std::fprintf(stderr, "Cannot write the report to standard output: %s\n", std::strerror(errno));
            lumaqc_close(&context);
            return -1;
        }
    }
    uint32_t isa = 0;
    lumaqc_get_isa(context, &isa);
    report::StreamSettings stream;
    stream.input = args.videoPath;
    stream.reader = info.reader;
    stream.width = info.width;
    stream.height = info.height;
    stream.fps = info.fps;
    stream.frames = countKnown ? frames : -1;
    stream.start = start;
    stream.instructionSet = instructionSetName(isa);
    // Whether the times of the rows are the stream's own or frame / fps.
    stream.extra.push_back({"times", raw || info.reader == "y4m" ? "\"frames\"" : "\"stream\""});
    report::Streams streams;
    streams.output = reportOutput ? reportOutput.get() : stdout;
    streams.errorIsTerminal = isatty(STDERR_FILENO) == 1;
    // Created before the log, so that a report that cannot be created leaves
    // the log of an earlier run in place; finished on every way out. Every
    // report is known to be writable before any file of an earlier run is
    // emptied.
    report::Session session(line.reports, stream, streams);
    if (const std::string reportError = session.reserve(); !reportError.empty()) {
        std::fprintf(stderr, "%s\n", reportError.c_str());
        lumaqc_close(&context);
        return -1;
    }
#ifdef LUMAQC_HAVE_HTML
    // The page is written at the end; whether it can be is checked now, before
    // the analysis and before the log of an earlier run is replaced.
    std::unique_ptr<report::HtmlReport> htmlReport;
    if (!line.reports.htmlPath.empty()) {
        htmlReport = std::make_unique<report::HtmlReport>(line.reports.htmlPath, info.width, info.height);
        std::string error;
        struct stat page {}, input {};
        if (::stat(line.reports.htmlPath.c_str(), &page) == 0 && ::stat(args.videoPath, &input) == 0 &&
            page.st_dev == input.st_dev && page.st_ino == input.st_ino)
            error = "Cannot create the report " + line.reports.htmlPath + ": it is the input";
        if (!error.empty() || !htmlReport->canWrite(&error)) {
            session.abandon();
            std::fprintf(stderr, "%s\n", error.c_str());
            lumaqc_close(&context);
            return -1;
        }
    }
#endif
    if (const std::string reportError = session.open(); !reportError.empty()) {
        std::fprintf(stderr, "%s\n", reportError.c_str());
        lumaqc_close(&context);
        return -1;
    }
    messageSession = &session;

    // Interrupted before the analysis: the log stays as it was.
    if (const int signal = stopSignal(); signal != 0) {
        std::fprintf(stderr, "Interrupted by %s after 0 frames\n", signalName(signal).c_str());
        lumaqc_close(&context);
        return 128 + signal;
    }
    // The log is created only now, so that a mistyped path or size leaves the
    // results of an earlier run in place; a log another run holds is not touched.
    LogFile log;
    const LogFile::Open logOpen = log.open(kLogFileName, args.videoPath);
    if (logOpen == LogFile::Open::Locked || logOpen == LogFile::Open::IsInput) {
        std::fprintf(stderr, "%s\n", log.error().c_str());
        lumaqc_close(&context);
        return -1;
    }
    // Every row is written whole as soon as it is known; the first failed
    // write ends the run.
    bool logFailed = false;
    auto writeLog = [&](const char* text, size_t length) {
        if (log.isOpen() && !logFailed && !log.write(text, length)) logFailed = true;
    };

    Console console;
    console.write(infoLines(args.videoPath, info.width, info.height, info.fps, frames, start, countKnown));
    console.line(headerText(RowStyle::Console));
    if (log.isOpen()) {
        const char* header = headerText(RowStyle::Log);
        writeLog(header, std::strlen(header));
    } else {
        console.flush();
        std::fprintf(stderr, "Cannot create the log file: %s\n", log.error().c_str());
    }

    // Both rows of every frame are formatted here in turn: no text is
    // allocated per frame.
    char rowText[kRowCapacity];
    int32_t analysed = 0;
    // The averages are taken over the requested frames (a count of 0 or below
    // included), or over those analysed when the input ends before them.
    int32_t framesForReport = frames;
    // Presentation times of the frames in flight, oldest first.
    std::deque<double> presentationTimes;
    // Rows come out in frame order; warm-up frames have none.
    auto receiveOne = [&] {
        FrameRow row;
        lumaqc_receive_result(context, &row.values);
        row.frame = warmUpFrom + row.values.frame;
        row.ptsTime = presentationTimes.front();
        presentationTimes.pop_front();
        if (row.frame < start) return;
        if (logFailed) return;
        writeLog(rowText, logRow(row, rowText, sizeof rowText));
        if (session.consoleRows() && !console.failed()) {
            session.beforeConsoleText();
            console.write(rowText, consoleRow(row, rowText, sizeof rowText));
        }
        session.addRow(row);
        console.noteErrors();
#ifdef LUMAQC_HAVE_HTML
        if (htmlReport) {
            FrameRow shown = row;
            if (std::isnan(shown.ptsTime))
                shown.ptsTime = info.fps > 0 && std::isfinite(info.fps) ? static_cast<double>(shown.frame) / info.fps
                                                                       : std::nan("");
            htmlReport->addRow(shown);
        }
#endif
        ++analysed;
    };
    auto receiveAll = [&] {
        int inFlight = 0;
        lumaqc_frames_in_flight(context, &inFlight);
        for (; inFlight > 0; --inFlight) receiveOne();
    };
    const clock_t startClock = clock();
    // A stop signal, a failed write to the log or to standard output ends the
    // reading; the frames in flight still get their rows.
    auto stopping = [&] { return stopSignal() != 0 || logFailed || console.failed(); };
    bool stopped = false;
    int64_t i = warmUpFrom;
    for (; (i < end || i < start) && !logFailed; ++i) {
        if (stopping()) {
            stopped = true;
            break;
        }
        if (i == start && warmUp > 0) {
            receiveAll();
            lumaqc_restart_flickering_period(context);
        }
        io::ReadResult r;
        if (i == warmUpFrom) {
            r = std::move(firstRead);
        } else {
            uint8_t* buffer = nullptr;
            while (lumaqc_frame_buffer(context, &buffer) == LUMAQC_ERROR_AGAIN) receiveOne();
            reader->setTarget(buffer);
            r = reader->next();
        }
        if (r.status != io::ReadStatus::Frame) receiveAll();
        if (!r.warnings.empty()) {
            session.beforeConsoleText();
            console.flush();
        }
        for (const std::string& warning : r.warnings) std::fprintf(stderr, "Warning: %s\n", warning.c_str());
        if (r.status == io::ReadStatus::Error) {
            session.beforeConsoleText();
            if (raw && r.systemError != 0) {
                errno = r.systemError;
                reportReadError(i, r.bytesRead, luma);
            } else {
                console.flush();
                std::fprintf(stderr, "%s\n", r.message.c_str());
            }
            lumaqc_close(&context);
            return -1;
        }
        if (r.status == io::ReadStatus::ShortFrame) {
            session.beforeConsoleText();
            console.flush();
            if (raw) {
                std::fprintf(stderr,
                             "Frame %" PRId64 " ends past the end of the file (%zu of %d luma bytes): "
                             "%d of %d requested frames analysed\n",
                             i, r.bytesRead, luma, analysed, frames);
            } else {
                std::fprintf(stderr,
                             "The input ends before frame %" PRId64 ": %d of %d requested frames analysed\n", i,
                             analysed, frames);
            }
            framesForReport = analysed;
            break;
        }
        if (r.status == io::ReadStatus::End) {
            framesForReport = analysed;
            break;
        }
        // Raw and Y4M frames have no times of their own: the reports take
        // frame / fps, which keeps durations such as 7 frames at 25 fps exact.
        presentationTimes.push_back(!raw && info.reader != "y4m" ? r.ptsTime : FrameRow{}.ptsTime);
        lumaqc_send_frame(context, r.luma.data, r.luma.stride);
    }
    receiveAll();
    // Frames past the last number: the stream, or the count, goes on.
    const bool numbersEnded = i == kFrameLimit && !stopped && !countKnown;
    if (numbersEnded) {
        session.beforeConsoleText();
        console.flush();
        std::fputs("Warning: frame numbers end at 2147483647: the frames after it are not analysed\n", stderr);
    }
    if (!countKnown || stopped || logFailed || requestedEnd > end) framesForReport = analysed;
    const clock_t endClock = clock();

    lumaqc_times times;
    lumaqc_get_times(context, &times);
    session.beforeConsoleText();
    console.write(timingReport(startClock, endClock, framesForReport, times));
    // Summary, segments and gates, when asked for, follow the timing report.
    const bool failed = stopped || logFailed;
    const report::FinishResult& reports =
        session.finish(failed ? report::RunStatus::Failed : report::RunStatus::Completed);
    console.noteErrors();
    messageSession = nullptr;
    lumaqc_close(&context);
    reader.reset();
    if (!logFailed && !log.close()) logFailed = true;
    console.line("\nFile stream closed\n");
    console.flush();
    if (!reports.writeError.empty()) std::fprintf(stderr, "%s\n", reports.writeError.c_str());
    bool htmlFailed = false;
#ifdef LUMAQC_HAVE_HTML
    // The page shows the frames analysed, also of a run that stopped early.
    std::string htmlError;
    if (htmlReport && !htmlReport->finish(htmlSettings(stream, indicators, analysed), htmlSegments(session.segments()),
                                          htmlPooled(session.pooled()), &htmlError)) {
        std::fprintf(stderr, "%s\n", htmlError.c_str());
        htmlFailed = true;
    }
#endif
    if (logFailed || console.failed()) {
        std::fprintf(stderr, "%s\n", logFailed ? log.error().c_str() : console.error().c_str());
        return -1;
    }
    if (const int signal = stopSignal(); stopped && signal != 0) {
        std::fprintf(stderr, "Interrupted by %s after %d frames\n", signalName(signal).c_str(), analysed);
        return 128 + signal;
    }
    if (htmlFailed) return -1;
    // 1 when a --fail-if gate tripped, -1 (255) when a report could not be written.
    const int status = report::exitStatus(report::RunStatus::Completed, reports);
    return status == 255 ? -1 : status;
}

}  // namespace lumaqc
