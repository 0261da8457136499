#include "analyser.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <deque>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "arguments.hpp"
#include "commandOptions.hpp"
#include "driver/fileRun.hpp"
#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"
#include "outputs.hpp"
#include "pieces.hpp"
#include "report.hpp"
#include "report/numbers.hpp"
#include "report/session.hpp"
#ifdef LUMAQC_HAVE_HTML
#include "eventPictures.hpp"
#include "report/htmlReport.hpp"
#include "report/timecode.hpp"
#endif

namespace lumaqc {

// Frame numbers are printed as 32-bit integers: frames from this one on are not analysed.
constexpr int64_t kFrameLimit = int64_t{INT32_MAX} + 1;

static void reportReadError(std::FILE* console, int64_t frame, size_t bytesRead, int32_t luma, int error) {
    std::fprintf(console, "Some error occurred when reading the %" PRId64 " frame\n", frame);
    std::fprintf(console, "Byte read = %d, Frame size = %d\n\n", static_cast<int>(bytesRead), luma);
    std::fprintf(console, "Error code: %d \n", error);
    std::fprintf(console, "Error description: %s \n", std::strerror(error));
}

// Where the indicators' messages go: the run's console, where they arise (the
// progress line, if shown, makes way first).
struct MessageTarget {
    std::FILE* console = nullptr;
    report::Session* session = nullptr;
};

static void printMessage(void* user, const char* text) {
    const MessageTarget* target = static_cast<const MessageTarget*>(user);
    if (target->session != nullptr) target->session->beforeConsoleText();
    std::fputs(text, target->console);
}

// A name that says raw pictures (.yuv, .raw, in any case), which need their size given.
static bool looksRaw(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr && std::strchr(dot, '/') == nullptr &&
           (strcasecmp(dot, ".yuv") == 0 || strcasecmp(dot, ".raw") == 0);
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

#ifdef LUMAQC_HAVE_HTML
// What the HTML page shows of the run: the settings, and the session's
// segments and pooled statistics in its own terms.
static std::vector<std::pair<std::string, std::string>> htmlSettings(const report::StreamSettings& stream,
                                                                     int indicators, int32_t analysed,
                                                                     const report::SegmentOptions& segments) {
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
            {"legal range", segments.rangeName + " (codes " + std::to_string(segments.rangeLow) + " to " +
                                std::to_string(segments.rangeHigh) + "), out of range above " +
                                std::to_string(segments.rangeArea) + " of a frame"},
            {"flash screening", report::flashScreeningText()},
            {"lumaqc", LUMAQC_VERSION_STRING}};
}

static std::vector<report::html::Segment> htmlSegments(const std::vector<report::Segment>& segments) {
    std::vector<report::html::Segment> shown;
    for (const report::Segment& s : segments)
        shown.push_back({report::segmentKindName(s.kind), s.firstFrame, s.lastFrame, s.start, s.end});
    return shown;
}

// The top of the page: the verdict where gates were given, the profile, every
// event with its timecodes and pictures and whether it counts, and the
// thresholds of the gates on a value's statistic (not on its count).
static report::html::Review htmlReview(const report::Session& session, const report::FinishResult& result,
                                       const report::ReportOptions& options, double fps,
                                       const std::string& startTimecode, const EventPictures& pictures) {
    report::html::Review review;
    if (!options.gates.empty()) review.verdict = result.tripped ? "FAIL" : "PASS";
    review.profile = options.profile;
    const std::string gates = report::gatesText(result.gates);
    for (size_t at = 0, end; (end = gates.find('\n', at)) != std::string::npos; at = end + 1)
        review.gates.push_back(gates.substr(at, end - at));
    const report::TimecodeRate rate = report::timecodeRate(fps);
    const int64_t startFrames =
        startTimecode.empty() ? 0 : std::max<int64_t>(0, report::timecodeFrames(startTimecode, rate));
    auto among = [](const report::Segment& s, const std::vector<report::Segment>& group) {
        return std::any_of(group.begin(), group.end(),
                           [&](const report::Segment& g) { return g.kind == s.kind && g.firstFrame == s.firstFrame; });
    };
    size_t withoutPictures = 0;
    for (const report::Segment& s : session.segments()) {
        report::html::Event e{report::segmentKindName(s.kind), s.firstFrame, s.lastFrame, s.start, s.end,
                              report::timecodeText(startFrames + s.firstFrame, rate),
                              report::timecodeText(startFrames + s.lastFrame, rate),
                              among(s, session.waivedSegments()) ? "waived"
                              : among(s, session.edgeSegments()) ? "at an end, not gated"
                                                                 : "",
                              pictures.of(s.kind, s.firstFrame)};
        withoutPictures += e.thumbnails.empty() ? 1 : 0;
        review.events.push_back(std::move(e));
    }
    if (!pictures.unavailable().empty() && !session.segments().empty())
        review.picturesNote = pictures.unavailable();
    else if (withoutPictures > 0)
        review.picturesNote = std::to_string(withoutPictures) + " events have no pictures: pictures are kept for the first " +
                              std::to_string(EventPictures::kMaxEvents) + " events";
    for (const report::GateResult& g : result.gates) {
        if (g.gate.segment) continue;
        const std::string stat = report::kStatNames[g.gate.stat];
        if (stat != "count" && stat != "excluded")
            review.thresholds.push_back({columns()[g.gate.subject].name, g.gate.expression, g.gate.threshold, g.tripped});
    }
    // The flash screening's own limits, red where a flash segment was found.
    bool flashing = false;
    for (const report::Segment& s : session.segments()) flashing = flashing || s.kind == report::SegmentKind::Flash;
    review.thresholds.push_back({"flash_area", "flash screening: area > 0.25", LUMAQC_FLASH_MIN_AREA, false});
    review.thresholds.push_back({"flashes_per_second", "flash screening: more than 3 a second", LUMAQC_FLASH_MAX_RATE,
                                 flashing});
    return review;
}

static std::vector<report::html::Pooled> htmlPooled(const std::vector<report::PooledColumn>& pooled) {
    std::vector<report::html::Pooled> shown;
    for (const report::PooledColumn& p : pooled) {
        const report::PooledStats& s = p.stats;
        shown.push_back({columns()[p.column].name, s.min, s.max, s.mean, s.harmonicMean, s.p1, s.p5, s.p50, s.p95,
                         s.p99, s.count, s.excluded});
    }
    return shown;
}
#endif

// Two reports, or a report and the log, that are one file (by any spelling or
// link): the line that refuses the run, else "". The reports are reserved, so
// they exist; a page not yet there is compared by its resolved path.
static std::string reportClash(const report::ReportOptions& reports, int logFolder, const char* logName) {
    std::vector<std::pair<const char*, const std::string*>> named;
    for (auto [option, path] : {std::pair{"--json", &reports.jsonPath}, std::pair{"--csv", &reports.csvPath},
                                std::pair{"--html", &reports.htmlPath}})
        if (!path->empty() && *path != "-") named.emplace_back(option, path);
    const std::string log = logName != nullptr ? report::fileIdentity(logFolder, logName) : "";
    for (size_t i = 0; i < named.size(); ++i) {
        const std::string identity = report::fileIdentity(AT_FDCWD, *named[i].second);
        if (logName != nullptr && identity == log)
            return "Cannot create the report " + *named[i].second + ": it is the log file " + logName;
        for (size_t j = 0; j < i; ++j)
            if (identity == report::fileIdentity(AT_FDCWD, *named[j].second))
                return std::string(named[j].first) + " " + *named[j].second + " and " + named[i].first + " " +
                       *named[i].second + " name the same file";
    }
    return "";
}

namespace {

// The rows of one run: the log, the console, the reports and the page, each
// row written whole as soon as it is known; the first failed write to the log
// or to the console ends the run.
class RunOutputs final : public driver::Sink {
public:
    RunOutputs(LogFile& log, Console& console, report::Session& session, std::FILE* error)
        : log_(log), console_(console), session_(session), error_(error) {}

    void writeLog(const char* text, size_t length) {
        if (log_.isOpen() && !logFailed_ && !log_.write(text, length)) logFailed_ = true;
    }
    bool logFailed() const { return logFailed_; }
#ifdef LUMAQC_HAVE_HTML
    void showIn(report::HtmlReport* page, double fps, EventPictures* pictures) {
        page_ = page;
        fps_ = fps;
        pictures_ = pictures;
    }
    void picture(int64_t frame, const io::ReadResult& read) override {
        if (pictures_ != nullptr) pictures_->picture(frame, read);
    }
#endif

    // Both rows of every frame are formatted here in turn: no text is
    // allocated per frame.
    void row(const FrameRow& row) override {
        writeLog(rowText_, logRow(row, rowText_, sizeof rowText_));
        if (session_.consoleRows() && !console_.failed()) {
            session_.beforeConsoleText();
            console_.write(rowText_, consoleRow(row, rowText_, sizeof rowText_));
        }
        session_.addRow(row);
        console_.noteErrors();
#ifdef LUMAQC_HAVE_HTML
        if (page_ != nullptr) {
            FrameRow shown = row;
            if (std::isnan(shown.ptsTime))
                shown.ptsTime = fps_ > 0 && std::isfinite(fps_) ? static_cast<double>(shown.frame) / fps_
                                                                : std::nan("");
            page_->addRow(shown);
        }
        if (pictures_ != nullptr) pictures_->afterRow(session_);
#endif
    }
    void warnings(std::vector<std::string>& texts) override {
        session_.beforeConsoleText();
        console_.flush();
        for (const std::string& warning : texts) {
            errorLine(error_, "Warning: %s", warning.c_str());
            session_.addWarning(warning);
        }
    }
    bool failed() override { return logFailed_; }
    // A stop signal, or a failed write to standard output.
    bool stopRequested(int64_t) override { return stopSignal() != 0 || console_.failed(); }

private:
    LogFile& log_;
    Console& console_;
    report::Session& session_;
    std::FILE* error_;
    bool logFailed_ = false;
    char rowText_[kRowCapacity];
#ifdef LUMAQC_HAVE_HTML
    report::HtmlReport* page_ = nullptr;
    double fps_ = 0;
    EventPictures* pictures_ = nullptr;
#endif
};

// A warning line on the error stream ("Warning: " and the text), its text kept
// for the reports.
__attribute__((format(printf, 3, 4))) void warn(std::FILE* err, std::vector<std::string>& kept, const char* pattern,
                                                ...) {
    va_list args;
    va_start(args, pattern);
    const std::string text = formatList(pattern, args);
    va_end(args);
    errorLine(err, "Warning: %s", text.c_str());
    kept.push_back(text);
}

}  // namespace

RunOutcome runAnalysis(int argc, char** argv, int indicators, const RunStreams& streams) {
    std::FILE* out = streams.console;
    std::FILE* const err = streams.error;
    RunOutcome outcome;
    outcome.status = -1;
    std::vector<std::string> warnings;  // those before the reports exist
    // The report options first; the rest is parsed as it always was.
    CommandLine line;
    const std::string badOption = splitCommandLine(argc, argv, &line);
    if (!badOption.empty()) {
        errorLine(err, "%s", badOption.c_str());
        return outcome;
    }
#ifndef LUMAQC_HAVE_HTML
    if (!line.reports.htmlPath.empty()) {
        std::fputs("--html is not available: this lumaqc was built without the HTML report (LUMAQC_HTML=OFF)\n",
                   err);
        return outcome;
    }
#endif
    argc = static_cast<int>(line.positional.size());
    argv = line.positional.data();

    Arguments args;
    switch (parseArguments(argc, argv, &args)) {
        case ParseStatus::TooFewArguments: std::fputs(usageText(argv[0]).c_str(), out); return outcome;
        case ParseStatus::Help:
            std::fputs(helpText(argv[0]).c_str(), out);
            std::fputs(report::reportOptionsUsage(), out);
            if (std::fflush(out) != 0 || std::ferror(out)) {
                errorLine(err, "Cannot write to standard output: %s", std::strerror(errno));
                return outcome;
            }
            outcome.status = 0;
            return outcome;
        case ParseStatus::Version:
            std::fputs(versionText().c_str(), out);
            if (std::fflush(out) != 0 || std::ferror(out)) {
                errorLine(err, "Cannot write to standard output: %s", std::strerror(errno));
                return outcome;
            }
            outcome.status = 0;
            return outcome;
        case ParseStatus::BadOption: errorLine(err, "%s", args.error.c_str()); return outcome;
        case ParseStatus::Ok: break;
    }
    for (const std::string& warning : args.warnings) warn(err, warnings, "%s", warning.c_str());
    if (streams.ownProcess) catchStopSignals();

    // A piece of a longer run starts on one of that run's flickering period
    // boundaries, and first analyses without rows the frames its state needs.
    const int32_t start = args.startFrame;
    if (args.runStart >= 0 && !isPieceStart(args.runStart, start)) {
        errorLine(err, "%s", pieceStartError(args.runStart, start).c_str());
        return outcome;
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
    // Declared before the run, whose context may call it until it is closed.
    MessageTarget messages;
    messages.console = out;
    driver::FileRun run;
    auto openFrom = [&](int32_t first) {
        request.start = first;
        request.frames = args.framesFromFile ? -1 : static_cast<int64_t>(std::max(args.frames, 0)) + (start - first);
        return run.openInput(request);
    };
    std::string error = openFrom(warmUpFrom);
    // The stream's own rate may ask for a longer warm-up than the one guessed.
    if (error.empty() && args.runStart >= 0 && warmUpStart(args.runStart, start, run.info().fps) < warmUpFrom) {
        warmUpFrom = warmUpStart(args.runStart, start, run.info().fps);
        error = openFrom(warmUpFrom);
    }
    // A raw-looking name the decoders found no container in (when they cannot
    // be loaded, the line that names what to install says more).
    if (!error.empty() && !args.sizeGiven && (args.inputFormat.empty() || args.inputFormat == "raw") &&
        looksRaw(args.videoPath) &&
        (args.inputFormat == "raw" || error.find(": not a video file that libav can read") != std::string::npos))
        error = std::string(args.videoPath) + ": raw input needs WIDTH HEIGHT (e.g. " + args.videoPath + " 1920 1080)";
    if (!error.empty()) {
        errorLine(err, "%s", error.c_str());
        return outcome;
    }
    const int32_t warmUp = start - warmUpFrom;
    const io::StreamInfo& info = run.info();
    const bool raw = info.reader == "raw";
    if (raw && (info.width % 2 != 0 || info.height % 2 != 0)) {
        const int64_t pixels = int64_t{info.width} * info.height;
        const int64_t chroma = int64_t{(info.width + 1) / 2} * ((info.height + 1) / 2);
        warn(err, warnings,
                     "raw frames of %d x %d are read as %" PRId64 " bytes each (W x H x 3 / 2); "
                     "at an odd size encoders usually write chroma planes of %d x %d, %" PRId64
                     " bytes per frame",
                     info.width, info.height, pixels * 3 / 2, (info.width + 1) / 2, (info.height + 1) / 2,
                     pixels + 2 * chroma);
    }

    // Bytes after the last whole frame of a raw file hint at a wrong WIDTH or HEIGHT.
    struct stat file {};
    const int64_t frameBytes = int64_t{info.width} * info.height * 3 / 2;
    if (raw && args.framesFromFile && frameBytes > 0 && std::strcmp(args.videoPath, "-") != 0 &&
        ::stat(args.videoPath, &file) == 0 && S_ISREG(file.st_mode) && file.st_size % frameBytes != 0)
        warn(err, warnings,
                  "%s ends with %" PRId64 " bytes after its last whole frame (%" PRId64
                  " bytes each at %d x %d): they are not analysed; are WIDTH and HEIGHT right?",
                  args.videoPath, static_cast<int64_t>(file.st_size % frameBytes), frameBytes, info.width, info.height);

    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.indicators = args.reference ? LUMAQC_INDICATORS_REFERENCE : indicators;
    const int threads = args.threads > 0 ? args.threads : availableProcessors();
    settings.threads = threads > 1 ? threads : 0;
    settings.measure_time = 1;
    settings.analysis_path = analysisPathFromEnvironment();
    settings.skip_added_values = skipAddedValuesFromEnvironment();
    settings.range_low = line.reports.segments.rangeLow;
    settings.range_high = line.reports.segments.rangeHigh;
    settings.message = printMessage;
    settings.message_user = &messages;
    const int opened = run.openContext(settings);
    if (opened == LUMAQC_ERROR_THREADS) {
        errorLine(err,
                  "Cannot start %d analysis threads: the system refused a new thread (use --threads 1, or raise "
                  "the limit on processes, ulimit -u)",
                  threads);
        return outcome;
    }
    if (opened != LUMAQC_OK) {
        errorLine(err, "Cannot allocate pictures of %d x %d pixels", info.width, info.height);
        return outcome;
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
        warn(err, warnings,
                  "%s holds %" PRId64 " frames from frame %d on; frame numbers end at 2147483647, "
                  "so %d of them are analysed",
                  args.videoPath, available, start, frames);
    // The frames asked for end here; the run stops at the last number. A
    // damaged Y4M frame after the whole ones is read, so that the run fails
    // there as it does on a stream.
    const bool readsToDamage = args.framesFromFile && info.damaged;
    const int64_t requestedEnd = countKnown && !readsToDamage ? int64_t{start} + frames : INT64_MAX;
    const int64_t end = std::min(requestedEnd, kFrameLimit);
    if (countKnown && !readsToDamage && requestedEnd > kFrameLimit)
        warn(err, warnings,
                     "frame numbers end at 2147483647: the %" PRId64
                     " requested frames after it are not analysed",
                     requestedEnd - kFrameLimit);
    const driver::Span span{warmUpFrom, start, end};
    const bool readsFrames = warmUpFrom < end || warmUpFrom < start;
    const char* inputName = std::strcmp(args.videoPath, "-") == 0 ? "standard input" : args.videoPath;
    if (args.framesFromFile && countKnown && available == 0 && !readsFrames) {
        if (start == 0)
            errorLine(err, "Nothing to analyse: %s holds no whole frame", inputName);
        else
            errorLine(err, "Nothing to analyse: %s holds no whole frame from frame %d on", inputName, start);
        return outcome;
    }
    // The first frame is read now: an input that holds no frame to analyse, or
    // cannot be read, leaves the log of an earlier run in place.
    if (readsFrames) {
        const io::ReadResult& firstRead = run.readFirst();
        if (firstRead.status != io::ReadStatus::Frame) {
            for (const std::string& warning : firstRead.warnings) errorLine(err, "Warning: %s", warning.c_str());
            if (firstRead.status == io::ReadStatus::Error && raw && firstRead.systemError != 0) {
                reportReadError(out, warmUpFrom, firstRead.bytesRead, luma, firstRead.systemError);
            } else if (firstRead.status == io::ReadStatus::Error) {
                errorLine(err, "%s", firstRead.message.c_str());
            } else if (warmUpFrom == 0) {
                errorLine(err, "Nothing to analyse: %s holds no whole frame", inputName);
            } else {
                errorLine(err, "Nothing to analyse: %s ends before frame %d", inputName, warmUpFrom);
            }
            return outcome;
        }
    }

    // A report on standard output takes it over: the console text goes to the
    // error stream from here on.
    std::unique_ptr<FILE, FileCloser> reportOutput;
    std::FILE* reportTarget = out;
    if (line.reports.reportOnStandardOutput() && !streams.ownProcess) {
        out = err;
        messages.console = err;
    } else if (line.reports.reportOnStandardOutput()) {
        std::fflush(stdout);
        const int kept = dup(STDOUT_FILENO);
        if (kept >= 0) reportOutput.reset(fdopen(kept, "w"));
        if (!reportOutput || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            errorLine(err, "Cannot write the report to standard output: %s", std::strerror(errno));
            return outcome;
        }
    }
    uint32_t isa = 0;
    lumaqc_get_isa(run.context(), &isa);
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
    // A piece names the run it belongs to, so that merge takes only pieces that rebuild that run.
    if (args.runStart >= 0) stream.extra.push_back({"run_start", std::to_string(args.runStart)});
    if (!line.reports.profile.empty()) {
        std::string profile;
        report::appendJsonString(profile, line.reports.profile);
        stream.extra.push_back({"profile", profile});
    }
    if (!info.startTimecode.empty()) {
        std::string timecode;
        report::appendJsonString(timecode, info.startTimecode);
        stream.extra.push_back({"start_timecode", timecode});
    }
    report::Streams reportStreams;
    reportStreams.console = out;
    reportStreams.output = reportOutput ? reportOutput.get() : reportTarget;
    reportStreams.error = err;
    reportStreams.errorIsTerminal = isatty(fileno(err)) == 1;
    // A stream read to its end still shows a total where its container tells its length.
    if (!countKnown && info.expectedFrames > warmUpFrom) reportStreams.progressTotal = info.expectedFrames - warmUpFrom;
    // Created before the log, so that a report that cannot be created leaves
    // the log of an earlier run in place; finished on every way out. Every
    // report is known to be writable before any file of an earlier run is
    // emptied.
    report::Session session(line.reports, stream, reportStreams);
    for (const std::string& warning : warnings) session.addWarning(warning);
    if (const std::string reportError = session.reserve(); !reportError.empty()) {
        errorLine(err, "%s", reportError.c_str());
        return outcome;
    }
#ifdef LUMAQC_HAVE_HTML
    // The page is written at the end; whether it can be is checked now, before
    // the analysis and before the log of an earlier run is replaced.
    std::unique_ptr<report::HtmlReport> htmlReport;
    if (!line.reports.htmlPath.empty()) {
        htmlReport = std::make_unique<report::HtmlReport>(line.reports.htmlPath, info.width, info.height);
        std::string pageError;
        struct stat page {}, input {};
        if (::stat(line.reports.htmlPath.c_str(), &page) == 0 && ::stat(args.videoPath, &input) == 0 &&
            page.st_dev == input.st_dev && page.st_ino == input.st_ino)
            pageError = "Cannot create the report " + line.reports.htmlPath + ": it is the input";
        if (!pageError.empty() || !htmlReport->canWrite(&pageError)) {
            session.abandon();
            errorLine(err, "%s", pageError.c_str());
            return outcome;
        }
    }
#endif
    // Every check that can refuse the run comes before any file of an earlier
    // run is emptied: reports that are one file, or the log; the log's lock;
    // the log being the input.
    // --log FILE names it from the working directory; --no-log writes none.
    const char* logName = args.noLog ? nullptr : args.logPath.empty() ? kLogFileName : args.logPath.c_str();
    const int logFolder = args.logPath.empty() ? streams.logFolder : AT_FDCWD;
    if (const std::string clash = reportClash(line.reports, logFolder, logName); !clash.empty()) {
        session.abandon();
        errorLine(err, "%s", clash.c_str());
        return outcome;
    }
    LogFile log;
    const LogFile::Open logOpen = logName != nullptr ? log.open(logFolder, logName, args.videoPath) : LogFile::Open::Ok;
    if (logOpen == LogFile::Open::Locked || logOpen == LogFile::Open::IsInput ||
        logOpen == LogFile::Open::NotAFile) {
        session.abandon();
        errorLine(err, "%s", log.error().c_str());
        return outcome;
    }
    // A log asked for by name that cannot be created refuses the run.
    if (logOpen == LogFile::Open::CannotCreate && !args.logPath.empty()) {
        session.abandon();
        errorLine(err, "Cannot create the log file %s: %s", logName, log.error().c_str());
        return outcome;
    }
    if (const std::string reportError = session.open(); !reportError.empty()) {
        errorLine(err, "%s", reportError.c_str());
        return outcome;
    }
    messages.session = &session;

    // Interrupted before the analysis: the log stays as it was.
    if (const int signal = stopSignal(); signal != 0) {
        errorLine(err, "Interrupted by %s after 0 frames", signalName(signal).c_str());
        outcome.status = 128 + signal;
        return outcome;
    }
    // The log is emptied only now, so that a mistyped path or size leaves the
    // results of an earlier run in place.
    log.empty();
    Console console(out);
    RunOutputs outputs(log, console, session, err);
#ifdef LUMAQC_HAVE_HTML
    // Pictures of the events only for the page.
    std::unique_ptr<EventPictures> pictures;
    if (htmlReport) pictures = std::make_unique<EventPictures>(info.width, info.height);
    outputs.showIn(htmlReport.get(), info.fps, pictures.get());
#endif
    // --quiet: no information lines, header, timing or closing line.
    const bool quiet = line.reports.quiet;
    if (!quiet) {
        console.write(infoLines(args.videoPath, info.width, info.height, info.fps, frames, start, countKnown));
        console.line(headerText(RowStyle::Console));
    }
    if (log.isOpen()) {
        const char* header = headerText(RowStyle::Log);
        outputs.writeLog(header, std::strlen(header));
    } else if (logName != nullptr) {
        console.flush();
        errorLine(err, "Cannot create the log file: %s", log.error().c_str());
    }

    const clock_t startClock = clock();
    // A stop signal, a failed write to the log or to standard output ends the
    // reading; the frames in flight still get their rows.
    const driver::Outcome ran = run.run(span, outputs);
    const int32_t analysed = static_cast<int32_t>(ran.rows);
    outcome.frames = ran.rows;
    const bool stopped = ran.ending == driver::Ending::Stopped;
    const bool logFailed = outputs.logFailed();
    // The averages are taken over the requested frames (a count of 0 or below
    // included), or over those analysed when the input ends before them.
    int32_t framesForReport = frames;
    if (ran.ending == driver::Ending::ReadError) {
        session.beforeConsoleText();
        if (raw && ran.read.systemError != 0) {
            reportReadError(out, ran.frame, ran.read.bytesRead, luma, ran.read.systemError);
        } else {
            console.flush();
            errorLine(err, "%s", ran.read.message.c_str());
        }
        return outcome;
    }
    if (ran.ending == driver::Ending::ShortFrame) {
        session.beforeConsoleText();
        console.flush();
        if (raw) {
            std::fprintf(err,
                         "Frame %" PRId64 " ends past the end of the file (%zu of %d luma bytes): "
                         "%d of %d requested frames analysed\n",
                         ran.frame, ran.read.bytesRead, luma, analysed, frames);
        } else {
            std::fprintf(err, "The input ends before frame %" PRId64 ": %d of %d requested frames analysed\n",
                         ran.frame, analysed, frames);
        }
    }
    if (ran.ending == driver::Ending::ShortFrame || ran.ending == driver::Ending::InputEnded)
        framesForReport = analysed;
    // Frames past the last number: the stream, or the count, goes on.
    const bool numbersEnded = ran.frame == kFrameLimit && !stopped && !countKnown;
    if (numbersEnded) {
        session.beforeConsoleText();
        console.flush();
        std::vector<std::string> last;
        warn(err, last, "frame numbers end at 2147483647: the frames after it are not analysed");
        session.addWarning(last.front());
    }
    if (!countKnown || stopped || logFailed || requestedEnd > end) framesForReport = analysed;
    const clock_t endClock = clock();

    lumaqc_times times;
    lumaqc_get_times(run.context(), &times);
    session.beforeConsoleText();
    if (!quiet) console.write(timingReport(startClock, endClock, framesForReport, times));
    // Summary, segments and gates, when asked for, follow the timing report.
    const bool failed = stopped || logFailed;
    const report::FinishResult& reports =
        session.finish(failed ? report::RunStatus::Failed : report::RunStatus::Completed);
    console.noteErrors();
    messages.session = nullptr;
    outcome.finished = !failed;
    outcome.fps = info.fps;
    outcome.startTimecode = info.startTimecode;
    outcome.profile = line.reports.profile;
    outcome.events = session.gatedSegments();
    outcome.waived = session.waivedSegments();
    outcome.atEdges = session.edgeSegments();
    outcome.gates = reports.gates;
    outcome.warnings = session.warnings();
    run.closeContext();
    run.closeReader();
    const bool logCloseFailed = !logFailed && !log.close();
    if (!quiet) console.line("\nFile stream closed\n");
    console.flush();
    if (!reports.writeError.empty()) errorLine(err, "%s", reports.writeError.c_str());
    bool htmlFailed = false;
#ifdef LUMAQC_HAVE_HTML
    // The page shows the frames analysed, also of a run that stopped early.
    std::string htmlError;
    if (htmlReport) {
        pictures->finish(session);
        htmlReport->setReview(htmlReview(session, reports, line.reports, outcome.fps, outcome.startTimecode, *pictures));
    }
    if (htmlReport && !htmlReport->finish(htmlSettings(stream, indicators, analysed, line.reports.segments), htmlSegments(session.segments()),
                                          htmlPooled(session.pooled()), &htmlError)) {
        errorLine(err, "%s", htmlError.c_str());
        htmlFailed = true;
    }
#endif
    if (logFailed || logCloseFailed || console.failed()) {
        errorLine(err, "%s", logFailed || logCloseFailed ? log.error().c_str() : console.error().c_str());
        return outcome;
    }
    if (const int signal = stopSignal(); stopped && signal != 0) {
        errorLine(err, "Interrupted by %s after %d frames", signalName(signal).c_str(), analysed);
        outcome.status = 128 + signal;
        return outcome;
    }
    if (htmlFailed) return outcome;
    // 1 when a --fail-if gate tripped, -1 (255) when a report could not be written.
    const int status = report::exitStatus(report::RunStatus::Completed, reports);
    outcome.status = status == 255 ? -1 : status;
    return outcome;
}

int runAnalyser(int argc, char** argv, int indicators) {
    // Before any file is opened, so that none becomes standard output.
    makeStandardDescriptorsValid();
    return runAnalysis(argc, argv, indicators, RunStreams{}).status;
}

}  // namespace lumaqc
