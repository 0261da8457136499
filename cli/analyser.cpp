#include "analyser.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <unistd.h>

#include "arguments.hpp"
#include "commandOptions.hpp"
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

// Every whole frame of the file; a trailing partial frame is dropped.
static int32_t framesInFile(FILE* video, int32_t frameBytes) {
    std::fseek(video, 0, SEEK_END);
    const long length = std::ftell(video);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(length) / frameBytes));
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
    // The "--" options first; what is left are the positional arguments.
    CommandLine line;
    const std::string badOption = splitCommandLine(argc, argv, &line);
    if (!badOption.empty()) {
        std::fprintf(stderr, "%s\n", badOption.c_str());
        return -1;
    }
    argc = static_cast<int>(line.positional.size());
    argv = line.positional.data();

    Arguments args;
    if (parseArguments(argc, argv, &args) == ParseStatus::TooFewArguments) {
        std::fputs(usageText(argv[0]).c_str(), stdout);
        return -1;
    }

    FILE* video = std::fopen(args.videoPath, "r");
    if (video == nullptr) {
        std::fprintf(stderr, "Error opening the file %s: %s \n", args.videoPath, std::strerror(errno));
        return -1;
    }
    const std::string badArgument = checkArguments(args);
    if (!badArgument.empty()) {
        std::fprintf(stderr, "%s\n", badArgument.c_str());
        return -1;
    }

    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.fps = args.fps;
    settings.indicators = indicators;
    settings.measure_time = 1;
    settings.message = printMessage;
    report::Session* messageSession = nullptr;
    settings.message_user = &messageSession;
    lumaqc_context* context = nullptr;
    if (lumaqc_open(&context, args.width, args.height, &settings) != LUMAQC_OK) {
        std::fprintf(stderr, "Cannot allocate pictures of %d x %d pixels\n", args.width, args.height);
        return -1;
    }

    const int32_t luma = lumaSize(args);
    const int32_t frameBytes = frameSize(args);
    const int32_t frames = args.framesFromFile ? framesInFile(video, frameBytes) : args.frames;
    const int32_t start = args.framesFromFile ? 0 : args.startFrame;

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
    stream.reader = "raw";
    stream.width = args.width;
    stream.height = args.height;
    stream.fps = args.fps;
    stream.frames = frames;
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

    std::fputs(infoLines(args.videoPath, args.width, args.height, args.fps, frames, start).c_str(), stdout);
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
    // included), or over those analysed when the file ends before them.
    int32_t framesForReport = frames;
    const clock_t startClock = clock();
    const int32_t end = static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(frames));
    int64_t offset = static_cast<int64_t>(start) * frameBytes;
    for (int32_t i = start; i < end; ++i, offset += frameBytes) {
        uint8_t* buffer = nullptr;
        lumaqc_frame_buffer(context, &buffer);
        fseeko(video, static_cast<off_t>(offset), SEEK_SET);
        const size_t got = std::fread(buffer, 1, static_cast<size_t>(luma), video);
        if (std::ferror(video)) {
            session.beforeConsoleText();
            reportReadError(i, got, luma);
            lumaqc_close(&context);
            return -1;
        }
        if (got < static_cast<size_t>(luma)) {
            session.beforeConsoleText();
            std::fflush(stdout);
            std::fprintf(stderr,
                         "Frame %d ends past the end of the file (%zu of %d luma bytes): "
                         "%d of %d requested frames analysed\n",
                         i, got, luma, analysed, frames);
            framesForReport = analysed;
            break;
        }
        row.frame = i;
        lumaqc_analyse(context, buffer, args.width, &row.values);
        if (session.consoleRows()) {
            session.beforeConsoleText();
            std::fwrite(rowText, 1, consoleRow(row, rowText, sizeof rowText), stdout);
        }
        if (log != nullptr) std::fwrite(rowText, 1, logRow(row, rowText, sizeof rowText), log);
        session.addRow(row);
        ++analysed;
    }
    const clock_t endClock = clock();

    lumaqc_times times;
    lumaqc_get_times(context, &times);
    session.beforeConsoleText();
    std::fputs(timingReport(startClock, endClock, framesForReport, times).c_str(), stdout);
    // Summary, segments and gates, when asked for, follow the timing report.
    const report::FinishResult& reports = session.finish(report::RunStatus::Completed);
    messageSession = nullptr;
    lumaqc_close(&context);
    std::fclose(video);
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
