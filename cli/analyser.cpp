#include "analyser.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "arguments.hpp"
#include "io/reader.hpp"
#include "lib/columns.hpp"
#include "lumaqc/lumaqc.h"
#include "report.hpp"

namespace lumaqc {

static void reportReadError(int32_t frame, size_t bytesRead, int32_t luma) {
    const int error = errno;
    std::printf("Some error occurred when reading the %d frame\n", frame);
    std::printf("Byte read = %d, Frame size = %d\n\n", static_cast<int>(bytesRead), luma);
    std::printf("Error code: %d \n", error);
    std::printf("Error description: %s \n", std::strerror(error));
}

// The indicators' messages appear on the console where they arise.
static void printMessage(void*, const char* text) { std::fputs(text, stdout); }

int runAnalyser(int argc, char** argv, int indicators) {
    Arguments args;
    switch (parseArguments(argc, argv, &args)) {
        case ParseStatus::TooFewArguments: std::fputs(usageText(argv[0]).c_str(), stdout); return -1;
        case ParseStatus::Help: std::fputs(helpText(argv[0]).c_str(), stdout); return 0;
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
        if (!r.warnings.empty()) std::fflush(stdout);
        for (const std::string& warning : r.warnings) std::fprintf(stderr, "Warning: %s\n", warning.c_str());
        if (r.status == io::ReadStatus::Error) {
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
        lumaqc_analyse(context, r.luma.data, r.luma.stride, &row.values);
        std::fwrite(rowText, 1, consoleRow(row, rowText, sizeof rowText), stdout);
        if (log != nullptr) std::fwrite(rowText, 1, logRow(row, rowText, sizeof rowText), log);
        ++analysed;
    }
    if (!countKnown) framesForReport = analysed;
    const clock_t endClock = clock();

    lumaqc_times times;
    lumaqc_get_times(context, &times);
    std::fputs(timingReport(startClock, endClock, framesForReport, times).c_str(), stdout);
    lumaqc_close(&context);
    reader.reset();
    if (log != nullptr) std::fclose(log);
    std::puts("\nFile stream closed\n");
    return 0;
}

}  // namespace lumaqc
