#include "outputs.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "report/writers.hpp"

namespace lumaqc {

void makeStandardDescriptorsValid() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            ::close(opened);
        }
    }
}

namespace {
// Set by the handler, read by every run of the process (several run side by
// side with many inputs): a lock-free atomic, safe in a handler.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onStopSignal(int signal) {
    int none = 0;
    receivedSignal.compare_exchange_strong(none, signal);
}
}  // namespace

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes go on where they were; a second signal ends the program.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    // A signal ignored on entry (nohup, a background job) stays ignored.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

int stopSignal() { return receivedSignal.load(); }

std::string signalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal " + std::to_string(signal);
    }
}

LogFile::~LogFile() {
    if (fd_ >= 0) ::close(fd_);
}

LogFile::Open LogFile::open(int folder, const char* path, const char* inputPath) {
    path_ = path;
    // Not truncated on opening: a run that finds the log locked leaves it as it was.
    fd_ = ::openat(folder, path, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno == ENXIO) {  // a FIFO that no one reads
        error_ = report::notAFileError("Cannot write the log file " + path_);
        return Open::NotAFile;
    }
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return Open::CannotCreate;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd_);
        fd_ = -1;
        error_ = "Cannot write the log file " + path_ + ": another lumaqc run is writing it";
        return Open::Locked;
    }
    // A file system without locks runs as before. Devices (such as /dev/null)
    // are not emptied, nor is the input.
    struct stat st {}, input {};
    regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular_ && !report::writableKind(st)) {
        ::close(fd_);
        fd_ = -1;
        error_ = report::notAFileError("Cannot write the log file " + path_);
        return Open::NotAFile;
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    if (regular_ && ::stat(inputPath, &input) == 0 && input.st_dev == st.st_dev && input.st_ino == st.st_ino) {
        ::close(fd_);
        fd_ = -1;
        error_ = "Cannot write the log file " + path_ + ": it is the input";
        return Open::IsInput;
    }
    return Open::Ok;
}

bool LogFile::empty() {
    if (fd_ < 0 || !regular_ || ftruncate(fd_, 0) == 0) return true;
    error_ = std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
}

bool LogFile::write(const char* text, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd_, text + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int error = n < 0 ? errno : ENOSPC;
        error_ = "Cannot write the log file " + path_ + ": " + std::strerror(error);
        // Only whole rows stay.
        if (regular_ && done > 0 && ftruncate(fd_, static_cast<off_t>(written_)) == 0)
            lseek(fd_, static_cast<off_t>(written_), SEEK_SET);
        return false;
    }
    written_ += static_cast<int64_t>(length);
    return true;
}

bool LogFile::close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0 && errno != EINTR) {
        error_ = "Cannot write the log file " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace lumaqc
