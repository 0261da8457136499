#include "analyser.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "arguments.hpp"
#include "lib/columns.hpp"
#include "lumaqc/lumaqc.h"
#include "report.hpp"
#ifdef LUMAQC_HAVE_HTML
#include <memory>

#include "report/htmlReport.hpp"
#endif

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

// The indicators' messages appear on the console where they arise.
static void printMessage(void*, const char* text) { std::fputs(text, stdout); }

#ifdef LUMAQC_HAVE_HTML
// What the HTML report shows of the run.
static std::vector<std::pair<std::string, std::string>> htmlSettings(const Arguments& args, int indicators,
                                                                     int32_t frames, int32_t start,
                                                                     int32_t analysed) {
    char fps[64];
    std::snprintf(fps, sizeof fps, "%g", args.fps);
    return {{"input", args.videoPath},
            {"width", std::to_string(args.width)},
            {"height", std::to_string(args.height)},
            {"fps", fps},
            {"start frame", std::to_string(start)},
            {"frames requested", std::to_string(frames)},
            {"frames analysed", std::to_string(analysed)},
            {"indicators", indicators == LUMAQC_INDICATORS_REFERENCE ? "reference" : "fast"},
            {"lumaqc", LUMAQC_VERSION_STRING}};
}
#endif

int runAnalyser(int argc, char** argv, int indicators) {
    Options options;
    const std::string badOption = takeOptions(&argc, argv, &options);
    if (!badOption.empty()) {
        std::fprintf(stderr, "%s\n", badOption.c_str());
        return -1;
    }
#ifndef LUMAQC_HAVE_HTML
    if (options.htmlPath != nullptr) {
        std::fputs("--html is not available: this lumaqc was built without the HTML report (LUMAQC_HTML=OFF)\n",
                   stderr);
        return -1;
    }
#endif
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
    lumaqc_context* context = nullptr;
    if (lumaqc_open(&context, args.width, args.height, &settings) != LUMAQC_OK) {
        std::fprintf(stderr, "Cannot allocate pictures of %d x %d pixels\n", args.width, args.height);
        return -1;
    }

    const int32_t luma = lumaSize(args);
    const int32_t frameBytes = frameSize(args);
    const int32_t frames = args.framesFromFile ? framesInFile(video, frameBytes) : args.frames;
    const int32_t start = args.framesFromFile ? 0 : args.startFrame;

#ifdef LUMAQC_HAVE_HTML
    // A report that could not be written is refused before the analysis, and
    // before the log of an earlier run is replaced.
    std::unique_ptr<report::HtmlReport> html;
    if (options.htmlPath != nullptr) {
        html = std::make_unique<report::HtmlReport>(options.htmlPath, args.width, args.height);
        std::string error;
        if (!html->canWrite(&error)) {
            std::fprintf(stderr, "HTML report: %s\n", error.c_str());
            lumaqc_close(&context);
            return -1;
        }
    }
#endif

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
            reportReadError(i, got, luma);
            lumaqc_close(&context);
            return -1;
        }
        if (got < static_cast<size_t>(luma)) {
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
        std::fwrite(rowText, 1, consoleRow(row, rowText, sizeof rowText), stdout);
        if (log != nullptr) std::fwrite(rowText, 1, logRow(row, rowText, sizeof rowText), log);
#ifdef LUMAQC_HAVE_HTML
        if (html) {
            row.ptsTime = args.fps > 0 && std::isfinite(args.fps) ? i / args.fps : std::nan("");
            html->addRow(row);
        }
#endif
        ++analysed;
    }
    const clock_t endClock = clock();

    lumaqc_times times;
    lumaqc_get_times(context, &times);
    std::fputs(timingReport(startClock, endClock, framesForReport, times).c_str(), stdout);
    lumaqc_close(&context);
    std::fclose(video);
    if (log != nullptr) std::fclose(log);
    std::puts("\nFile stream closed\n");
#ifdef LUMAQC_HAVE_HTML
    // Segments and pooled statistics are not computed by this program yet.
    std::string error;
    if (html && !html->finish(htmlSettings(args, indicators, frames, start, analysed), {}, {}, &error)) {
        std::fflush(stdout);
        std::fprintf(stderr, "HTML report: %s\n", error.c_str());
        return -1;
    }
#endif
    return 0;
}

}  // namespace lumaqc
