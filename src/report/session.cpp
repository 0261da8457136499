#include "report/session.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "report/verdict.hpp"

namespace lumaqc::report {

int exitStatus(RunStatus status, const FinishResult& result) {
    if (status == RunStatus::Failed || !result.writeError.empty()) return 255;
    return result.tripped ? 1 : 0;
}

static double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Session::Session(const ReportOptions& options, const StreamSettings& settings, const Streams& streams)
    : options_(options), settings_(settings), streams_(streams), detector_(options.segments, settings.fps, settings.width, settings.height) {
    if (!streams_.clock) streams_.clock = steadySeconds;
}

Session::~Session() {
    if (opened_) finish(RunStatus::Failed);
    else abandon();
}

// Whether two paths name one existing file.
static bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Opens path for writing without emptying it, creating it when missing; the
// path of what this call created goes to *created.
static int openKept(const std::string& path, std::string* created) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        // Not blocking on a FIFO: it is refused once open.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (made >= 0) *created = path;
        if (made >= 0 || errno != EEXIST) return made;
        // Created by another process meanwhile, or a link to a missing file.
    }
    // A symbolic link to a missing file: the file is created where it points.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
        char* target = ::realpath(path.c_str(), nullptr);
        *created = target != nullptr ? target : path;
        std::free(target);
    }
    return fd;
}

std::string Session::reserve() {
    if (reserved_) return "";
    // Checked before any is opened, so that none is created in vain.
    for (const std::string* path : {&options_.jsonPath, &options_.csvPath})
        if (!path->empty() && *path != "-" && !settings_.input.empty() && sameFile(*path, settings_.input))
            return "Cannot create the report " + *path + ": it is the input";
    reserved_ = true;
    for (auto [path, fd] : {std::pair{&options_.jsonPath, &jsonFd_}, std::pair{&options_.csvPath, &csvFd_}}) {
        if (path->empty() || *path == "-") continue;
        std::string created;
        *fd = openKept(*path, &created);
        struct stat st {};
        const bool fifo = *fd < 0 && errno == ENXIO;  // a FIFO that no one reads
        if (*fd < 0 || ::fstat(*fd, &st) != 0 || !writableKind(st)) {
            const std::string error = *fd >= 0 || fifo ? notAFileError("Cannot create the report " + *path)
                                                       : "Cannot create the report " + *path + ": " + std::strerror(errno);
            if (!created.empty()) created_.push_back(created);
            abandon();
            return error;
        }
        ::fcntl(*fd, F_SETFL, ::fcntl(*fd, F_GETFL) & ~O_NONBLOCK);
        if (!created.empty()) created_.push_back(created);
    }
    return "";
}

void Session::abandon() {
    for (int* fd : {&jsonFd_, &csvFd_})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    for (const std::string& path : created_) ::unlink(path.c_str());
    created_.clear();
    reserved_ = false;
}

// The reserved file, emptied (a regular file; other kinds are written as
// they are) and opened as a stream; "-" is the report output.
std::FILE* Session::adoptReport(int& fd, const std::string& path, std::string* error) {
    if (path == "-") return streams_.output;
    struct stat st {};
    std::FILE* file = nullptr;
    if ((::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) == 0) &&
        (file = ::fdopen(fd, "w")) != nullptr) {
        fd = -1;
        return file;
    }
    *error = "Cannot create the report " + path + ": " + std::strerror(errno);
    return nullptr;
}

std::string Session::open() {
    if (const std::string error = reserve(); !error.empty()) return error;
    std::string error;
    if (!options_.jsonPath.empty()) jsonFile_ = adoptReport(jsonFd_, options_.jsonPath, &error);
    if (error.empty() && !options_.csvPath.empty()) csvFile_ = adoptReport(csvFd_, options_.csvPath, &error);
    if (!error.empty()) {
        if (jsonFile_ != nullptr && jsonFile_ != streams_.output) std::fclose(jsonFile_);
        jsonFile_ = nullptr;
        abandon();
        return error;
    }
    created_.clear();
    errno = 0;
    if (jsonFile_ != nullptr) json_ = std::make_unique<JsonWriter>(jsonFile_, settings_, options_.segments);
    noteWriteError(jsonFile_, jsonError_);
    errno = 0;
    if (csvFile_ != nullptr) csv_ = std::make_unique<CsvWriter>(csvFile_, settings_);
    noteWriteError(csvFile_, csvError_);

    bool poolNeeded = json_ != nullptr || options_.summary || !options_.htmlPath.empty();
    for (const Gate& g : options_.gates) poolNeeded = poolNeeded || !g.segment;
    if (poolNeeded) pool_ = std::make_unique<Pool>(settings_.width, settings_.height);

    const bool progress = options_.progress == ProgressMode::On ||
                          (options_.progress == ProgressMode::Auto && streams_.errorIsTerminal);
    if (progress) {
        std::FILE* console = streams_.console;
        std::FILE* err = streams_.error;
        progress_ = std::make_unique<ProgressMeter>(
            streams_.clock,
            [console, err](std::string_view text) {
                std::fflush(console);
                std::fwrite(text.data(), 1, text.size(), err);
                std::fflush(err);
            },
            streams_.progressTotal >= 0 ? streams_.progressTotal : settings_.frames);
    }
    opened_ = true;
    return "";
}

// The reason of a stream's first failed write, kept while errno still holds it.
void Session::noteWriteError(std::FILE* file, int& error) {
    if (file != nullptr && error == 0 && std::ferror(file)) error = errno != 0 ? errno : EIO;
}

void Session::beforeConsoleText() {
    if (progress_) progress_->suspend();
}

void Session::printConsole(const std::string& text) {
    beforeConsoleText();
    std::fwrite(text.data(), 1, text.size(), streams_.console);
}

void Session::addRow(const FrameRow& row) {
    if (!opened_ || result_) return;
    ++rows_;
    const double time = rowTime(row, settings_.fps);
    if (rows_ == 1) firstTime_ = time;
    endTime_ = time + 1.0 / settings_.fps;
    errno = 0;
    if (json_) json_->addRow(row);
    noteWriteError(jsonFile_, jsonError_);
    errno = 0;
    if (csv_) csv_->addRow(row);
    noteWriteError(csvFile_, csvError_);
    if (pool_) pool_->add(row);
    const size_t before = segments_.size();
    detector_.add(row, segments_);
    if (options_.events)
        for (size_t i = before; i < segments_.size(); ++i) printConsole(segmentLine(segments_[i]) + "\n");
    if (progress_) progress_->update(rows_);
}

const FinishResult& Session::finish(RunStatus status) {
    if (result_) return *result_;
    result_.emplace();
    if (!opened_) return *result_;
    if (progress_) progress_->finish();

    const size_t before = segments_.size();
    detector_.finish(segments_);
    if (options_.events)
        for (size_t i = before; i < segments_.size(); ++i) printConsole(segmentLine(segments_[i]) + "\n");
    // Closed in the order their ends were seen; reported in the order they start.
    std::stable_sort(segments_.begin(), segments_.end(),
                     [](const Segment& a, const Segment& b) { return a.firstFrame < b.firstFrame; });
    if (pool_) pooled_ = pool_->pooled();
    const auto summary = summarise(segments_);
    Verdict verdict = judgeRun(segments_, pooled_, options_, firstTime_, endTime_);
    gated_ = std::move(verdict.gated);
    waived_ = std::move(verdict.waived);
    edge_ = std::move(verdict.atEdges);
    result_->gates = std::move(verdict.gates);
    result_->tripped = verdict.tripped;

    if (json_) {
        JsonTail tail;
        tail.pooledMetrics = pooledJson(pooled_);
        tail.segmentSummary = segmentSummaryJson(summary);
        tail.events = segmentsJson(segments_);
        tail.gates = gatesJson(result_->gates);
        if (!options_.waivers.empty()) tail.waived = segmentsJson(waived_);
        tail.warnings = warnings_;
        tail.framesAnalysed = rows_;
        tail.complete = status == RunStatus::Completed;
        errno = 0;
        json_->finish(tail);
        noteWriteError(jsonFile_, jsonError_);
    }
    std::string text;
    if (options_.summary) text += pooledText(pooled_) + segmentsText(segments_);
    if (options_.summary)
        for (const Segment& s : waived_) text += "waived " + segmentLine(s) + "\n";
    text += gatesText(result_->gates);
    if (!text.empty()) printConsole(text);
    std::fflush(streams_.console);

    const auto close = [&](std::FILE*& file, const std::string& path, int& error) {
        if (file == nullptr) return;
        errno = 0;
        bool failed = std::fflush(file) != 0 || std::ferror(file) != 0;
        if (failed && error == 0) error = errno;
        errno = 0;
        if (file != streams_.output) failed = std::fclose(file) != 0 || failed;
        if (failed && error == 0) error = errno;
        if (failed && result_->writeError.empty())
            result_->writeError =
                "Cannot write the report " + path + ": " + (error != 0 ? std::strerror(error) : "write error");
        file = nullptr;
    };
    close(jsonFile_, options_.jsonPath, jsonError_);
    close(csvFile_, options_.csvPath, csvError_);
    return *result_;
}

}  // namespace lumaqc::report
