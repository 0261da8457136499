#include "analyser.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <unistd.h>

#include "arguments.hpp"
#include "commandOptions.hpp"
#include "io/reader.hpp"
#include "lib/columns.hpp"
#include "lumaqc/lumaqc.h"
#include "report.hpp"
#include "report/session.hpp"

namespace lumaqc {

static void reportReadError(int32_t frame, size_t bytesRead, int32_t luma) {
    const int error = errno;
    std::printf("Some error occurred when reading the %d frame\n", frame);
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

int runAnalyser(int argc, char** argv, int indicators) {
    // The report options first; the rest is parsed as it always was.
    CommandLine line;
    const std::string badOption = splitCommandLine(argc, argv, &line);
    if (!badOption.empty()) {
        std::fprintf(stderr, "%s\n", badOption.c_str());
        return -1;
    }
    argc = static_cast<int>(line.positional.size());
    argv = line.positional.data();

    Arguments args;
    switch (parseArguments(argc, argv, &args)) {
        case ParseStatus::TooFewArguments: std::fputs(usageText(argv[0]).c_str(), stdout); return -1;
        case ParseStatus::Help:
            std::fputs(helpText(argv[0]).c_str(), stdout);
            std::fputs(report::reportOptionsUsage(), stdout);
            return 0;
        case ParseStatus::BadOption: std::fprintf(stderr, "%s\n", args.error.c_str()); return -1;
        case ParseStatus::Ok: break;
    }

    // Opening checks the path first and then the sizes, as it always did.
    io::InputRequest request;
    request.path = args.videoPath;
    request.format = args.inputFormat;
    request.width = args.width;
    request.height = args.height;
    request.sizeGiven = args.sizeGiven;
    request.fps = args.fps;
    request.fpsGiven = args.fpsGiven;
    request.start = args.startFrame;
    request.frames = args.framesFromFile ? -1 : std::max(args.frames, 0);
    std::string error;
    std::unique_ptr<io::Reader> reader = io::openReader(request, &error);
    if (!reader) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    const io::StreamInfo& info = reader->info();
    const bool raw = info.reader == "raw";

    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.fps = info.fps;
    settings.indicators = indicators;
    settings.measure_time = 1;
    settings.message = printMessage;
    report::Session* messageSession = nullptr;
    settings.message_user = &messageSession;
    lumaqc_context* context = nullptr;
    if (lumaqc_open(&context, info.width, info.height, &settings) != LUMAQC_OK) {
        std::fprintf(stderr, "Cannot allocate pictures of %d x %d pixels\n", info.width, info.height);
        return -1;
    }

    const int32_t luma = info.width * info.height;
    // A count of whole frames keeps its low 32 bits, as it always did; streams
    // have none until they end.
    const bool countKnown = !args.framesFromFile || info.frameCount >= 0;
    const int32_t frames = !args.framesFromFile ? args.frames
                           : countKnown ? static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(info.frameCount)))
                                        : 0;
    const int32_t start = args.startFrame;

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
    report::Streams streams;
    streams.output = reportOutput ? reportOutput.get() : stdout;
    streams.errorIsTerminal = isatty(STDERR_FILENO) == 1;
    // Created before the log, so that a report that cannot be created leaves
    // the log of an earlier run in place; finished on every way out.
    report::Session session(line.reports, stream, streams);
    if (const std::string reportError = session.open(); !reportError.empty()) {
        std::fprintf(stderr, "%s\n", reportError.c_str());
        lumaqc_close(&context);
        return -1;
    }
    messageSession = &session;

    // The log is created only now, so that a mistyped path or size leaves the
    // results of an earlier run in place.
    FILE* log = std::fopen(kLogFileName, "w");
    const int logError = errno;

    std::fputs(infoLines(args.videoPath, info.width, info.height, info.fps, frames, start, countKnown).c_str(), stdout);
    std::puts(headerText(RowStyle::Console));
    if (log != nullptr) {
        const char* header = headerText(RowStyle::Log);
        std::fwrite(header, 1, std::strlen(header), log);
    } else {
        errno = logError;
        std::perror("Cannot create the log file");
    }

    FrameRow row;
    // Both rows of every frame are formatted here in turn: no text is
    // allocated per frame.
    char rowText[kRowCapacity];
    int32_t analysed = 0;
    // The averages are taken over the requested frames (a count of 0 or below
    // included), or over those analysed when the input ends before them.
    int32_t framesForReport = frames;
    const clock_t startClock = clock();
    const int32_t end =
        countKnown ? static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(frames)) : INT32_MAX;
    for (int32_t i = start; i < end; ++i) {
        uint8_t* buffer = nullptr;
        lumaqc_frame_buffer(context, &buffer);
        reader->setTarget(buffer);
        const io::ReadResult r = reader->next();
        if (!r.warnings.empty()) {
            session.beforeConsoleText();
            std::fflush(stdout);
        }
        for (const std::string& warning : r.warnings) std::fprintf(stderr, "Warning: %s\n", warning.c_str());
        if (r.status == io::ReadStatus::Error) {
            session.beforeConsoleText();
            if (raw && r.systemError != 0) {
                errno = r.systemError;
                reportReadError(i, r.bytesRead, luma);
            } else {
                std::fflush(stdout);
                std::fprintf(stderr, "%s\n", r.message.c_str());
            }
            lumaqc_close(&context);
            return -1;
        }
        if (r.status == io::ReadStatus::ShortFrame) {
            session.beforeConsoleText();
            std::fflush(stdout);
            if (raw) {
                std::fprintf(stderr,
                             "Frame %d ends past the end of the file (%zu of %d luma bytes): "
                             "%d of %d requested frames analysed\n",
                             i, r.bytesRead, luma, analysed, frames);
            } else {
                std::fprintf(stderr, "The input ends before frame %d: %d of %d requested frames analysed\n", i,
                             analysed, frames);
            }
            framesForReport = analysed;
            break;
        }
        if (r.status == io::ReadStatus::End) {
            framesForReport = analysed;
            break;
        }
        row.frame = i;
        // Raw and Y4M frames have no times of their own: the reports take
        // frame / fps, which keeps durations such as 7 frames at 25 fps exact.
        if (!raw && info.reader != "y4m") row.ptsTime = r.ptsTime;
        lumaqc_analyse(context, r.luma.data, r.luma.stride, &row.values);
        if (session.consoleRows()) {
            session.beforeConsoleText();
            std::fwrite(rowText, 1, consoleRow(row, rowText, sizeof rowText), stdout);
        }
        if (log != nullptr) std::fwrite(rowText, 1, logRow(row, rowText, sizeof rowText), log);
        session.addRow(row);
        ++analysed;
    }
    if (!countKnown) framesForReport = analysed;
    const clock_t endClock = clock();

    lumaqc_times times;
    lumaqc_get_times(context, &times);
    session.beforeConsoleText();
    std::fputs(timingReport(startClock, endClock, framesForReport, times).c_str(), stdout);
    // Summary, segments and gates, when asked for, follow the timing report.
    const report::FinishResult& reports = session.finish(report::RunStatus::Completed);
    messageSession = nullptr;
    lumaqc_close(&context);
    reader.reset();
    if (log != nullptr) std::fclose(log);
    std::puts("\nFile stream closed\n");
    if (!reports.writeError.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", reports.writeError.c_str());
    }
    // 1 when a --fail-if gate tripped, -1 (255) when a report could not be written.
    const int status = report::exitStatus(report::RunStatus::Completed, reports);
    return status == 255 ? -1 : status;
}

}  // namespace lumaqc
