// What keeps a run's outputs whole: valid standard descriptors, standard
// output with every write checked, the signals that end a run after the
// current frame, and the log, locked for one run and
// written row by row with every write checked.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace lumaqc {

// Opens /dev/null on descriptors 0, 1 and 2 where they are closed, so that no
// file opened later takes their place.
void makeStandardDescriptorsValid();

// Standard output (or a run's own), every write checked: after the first
// failure nothing more is written to it, and its reason is kept.
class Console {
public:
    explicit Console(std::FILE* stream = stdout) : stream_(stream) {}
    void write(const char* text, size_t length) {
        if (error_ != 0) return;
        errno = 0;
        if (std::fwrite(text, 1, length, stream_) != length || std::ferror(stream_)) fail();
    }
    void write(const std::string& text) { write(text.data(), text.size()); }
    void line(const char* text) {
        write(text, std::strlen(text));
        write("\n", 1);
    }
    // Flushes what is buffered (before text on the error stream, and at the end).
    bool flush() {
        if (error_ != 0) return false;
        errno = 0;
        if (std::fflush(stream_) != 0 || std::ferror(stream_)) fail();
        return error_ == 0;
    }
    // After text written to standard output elsewhere (the reports' console
    // lines): a failure there is this stream's failure, with its errno.
    void noteErrors() {
        if (error_ == 0 && std::ferror(stream_)) fail();
    }
    bool failed() const { return error_ != 0; }
    std::string error() const { return std::string("Cannot write to standard output: ") + std::strerror(error_); }

private:
    void fail() { error_ = errno != 0 ? errno : EIO; }
    std::FILE* stream_;
    int error_ = 0;
};

// From now on SIGINT, SIGTERM and SIGHUP (unless ignored on entry) only ask the
// run to stop (a second one ends the program at once), and a closed pipe is a
// write error.
void catchStopSignals();
// The first stop signal received, 0 when none.
int stopSignal();
// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
std::string signalName(int signal);

class LogFile {
public:
    enum class Open { Ok, CannotCreate, Locked, IsInput, NotAFile };
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates or opens path (relative to the folder open as folder, or to the
    // working directory for AT_FDCWD) and takes the lock that one run holds,
    // without emptying it; Locked (another run holds it), IsInput (it is the
    // file being analysed) and NotAFile (a FIFO, not waited for) leave the file
    // as it was. error() says why.
    Open open(int folder, const char* path, const char* inputPath);
    // Empties the locked file (a regular one) once the run is sure to go on;
    // false (and the file closed) when that fails.
    bool empty();
    bool isOpen() const { return fd_ >= 0; }
    // Writes all bytes at once; on a failure the file is cut back to the last
    // whole write (for a regular file) and false is returned.
    bool write(const char* text, size_t length);
    // Closes the file (releasing the lock); false when closing reports an error.
    bool close();
    const std::string& error() const { return error_; }

private:
    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
    int64_t written_ = 0;
    std::string error_;
};

}  // namespace lumaqc
