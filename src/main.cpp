// lumaqc: no-reference quality indicators for every frame of a raw YUV 4:2:0 clip.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/arguments.hpp"
#include "app/frameAnalysis.hpp"
#include "app/report.hpp"

static void releasePictures(RunPictures& p) {
    freeImage(&p.current);
    freeImage(&p.previous);
    freeImage(&p.flickerCounts);
    freeImage(&p.flickerStates);
}

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

int main(int argc, char** argv) {
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

    const uint64_t w = static_cast<uint64_t>(static_cast<int64_t>(args.width));
    const uint64_t h = static_cast<uint64_t>(static_cast<int64_t>(args.height));
    RunPictures pictures;
    pictures.current = callocImage(w, h);
    pictures.previous = callocImage(w, h);
    pictures.flickerCounts = callocImage(pictures.current.w >> 3, pictures.current.h >> 3);
    pictures.flickerStates = callocImage(pictures.flickerCounts.w, pictures.flickerCounts.h);
    if (!pictures.current.data || !pictures.previous.data || !pictures.flickerCounts.data ||
        !pictures.flickerStates.data) {
        std::fprintf(stderr, "Cannot allocate pictures of %d x %d pixels\n", args.width, args.height);
        releasePictures(pictures);
        return -1;
    }

    const int32_t luma = lumaSize(args);
    const int32_t frameBytes = frameSize(args);
    const int32_t frames = args.framesFromFile ? framesInFile(video, frameBytes) : args.frames;
    const int32_t start = args.framesFromFile ? 0 : args.startFrame;

    // The log is created only now, so that a mistyped path or size leaves the
    // results of an earlier run in place.
    FILE* log = std::fopen(kLogFileName, "w");
    const int logError = errno;

    std::fputs(infoLines(args.videoPath, args.width, args.height, args.fps, frames, start).c_str(), stdout);
    std::puts(kConsoleHeader);
    if (log != nullptr) {
        std::fwrite(kLogHeader, 1, std::strlen(kLogHeader), log);
    } else {
        errno = logError;
        std::perror("Cannot create the log file");
    }

    MetricTimes times;
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
        fseeko(video, static_cast<off_t>(offset), SEEK_SET);
        const size_t got = std::fread(pictures.current.data, 1, static_cast<size_t>(luma), video);
        if (std::ferror(video)) {
            reportReadError(i, got, luma);
            releasePictures(pictures);
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
        analyseFrame(pictures, i > start, args.fps, row, times);
        std::fwrite(rowText, 1, consoleRow(row, rowText, sizeof rowText), stdout);
        if (log != nullptr) std::fwrite(rowText, 1, logRow(row, rowText, sizeof rowText), log);
        exchangeCurrentAndPrevious(pictures);
        ++analysed;
    }
    const clock_t endClock = clock();

    std::fputs(timingReport(startClock, endClock, framesForReport, times).c_str(), stdout);
    releasePictures(pictures);
    std::fclose(video);
    if (log != nullptr) std::fclose(log);
    std::puts("\nFile stream closed\n");
    return 0;
}
