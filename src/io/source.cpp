#include "io/source.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace lumaqc::io {

std::unique_ptr<Source> Source::open(const std::string& path, std::string* error) {
    std::unique_ptr<Source> s(new Source());
    s->path_ = path;
    if (path == "-") {
        s->file_ = stdin;
    } else {
        s->file_ = std::fopen(path.c_str(), "r");
        if (s->file_ == nullptr) {
            // The driver's wording, trailing blank included.
            *error = "Error opening the file " + path + ": " + std::strerror(errno) + " ";
            return nullptr;
        }
        s->ownsFile_ = true;
    }
    struct stat st;
    if (::fstat(fileno(s->file_), &st) != 0) {
        *error = "Cannot read " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    // Only files, block devices and streams hold frames.
    if (S_ISDIR(st.st_mode)) {
        *error = path + " is a directory";
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode) &&
        !S_ISCHR(st.st_mode)) {
        *error = path + " is neither a file nor a stream";
        return nullptr;
    }
    // Files and block devices are seeked as files always were, their length
    // found the same way; pipes, FIFOs, sockets, character devices and standard
    // input (even with a file redirected to it) are read in order.
    const bool standardInput = path == "-" || path == "/dev/stdin";
    if (!standardInput && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        if (fseeko(s->file_, 0, SEEK_END) != 0 || (s->size_ = static_cast<int64_t>(ftello(s->file_))) < 0 ||
            fseeko(s->file_, 0, SEEK_SET) != 0) {
            *error = "Cannot seek in " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        s->seekable_ = true;
    }
    return s;
}

Source::~Source() {
    if (ownsFile_) std::fclose(file_);
}

std::string Source::peek(size_t n) {
    if (seekable_) {
        std::string head(n, '\0');
        const off_t at = ftello(file_);
        if (at < 0 || fseeko(file_, 0, SEEK_SET) != 0) {
            errorNumber_ = errno;
            return {};
        }
        head.resize(std::fread(head.data(), 1, n, file_));
        std::clearerr(file_);
        if (fseeko(file_, at, SEEK_SET) != 0) errorNumber_ = errno;
        return head;
    }
    if (pending_.size() < n && !failed()) {
        const size_t had = pending_.size();
        pending_.resize(n);
        const size_t got = std::fread(pending_.data() + had, 1, n - had, file_);
        pending_.resize(had + got);
        if (std::ferror(file_)) errorNumber_ = errno != 0 ? errno : EIO;
    }
    return pending_.substr(0, std::min(n, pending_.size()));
}

size_t Source::read(void* to, size_t n) {
    size_t done = 0;
    if (pendingAt_ < pending_.size()) {
        done = std::min(n, pending_.size() - pendingAt_);
        std::memcpy(to, pending_.data() + pendingAt_, done);
        pendingAt_ += done;
        if (pendingAt_ == pending_.size()) {
            pending_.clear();
            pendingAt_ = 0;
        }
    }
    if (done < n && !failed()) {
        done += std::fread(static_cast<uint8_t*>(to) + done, 1, n - done, file_);
        if (std::ferror(file_)) errorNumber_ = errno != 0 ? errno : EIO;
    }
    return done;
}

bool Source::skip(int64_t n) {
    if (n <= 0) return true;
    if (seekable_) {
        const int64_t at = tell();
        if (at < 0 || n > size_ - at) return false;
        return fseeko(file_, static_cast<off_t>(n), SEEK_CUR) == 0;
    }
    if (scratch_.empty()) scratch_.resize(1 << 16);
    while (n > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(scratch_.size())));
        const size_t got = read(scratch_.data(), want);
        n -= static_cast<int64_t>(got);
        if (got < want) return false;
    }
    return true;
}

bool Source::readLine(std::string* line, size_t limit) {
    line->clear();
    while (line->size() < limit) {
        char c;
        if (pendingAt_ < pending_.size()) {
            c = pending_[pendingAt_++];
        } else {
            const int got = failed() ? EOF : std::getc(file_);
            if (got == EOF) {
                if (std::ferror(file_)) errorNumber_ = errno != 0 ? errno : EIO;
                return false;
            }
            c = static_cast<char>(got);
        }
        if (c == '\n') return true;
        line->push_back(c);
    }
    return false;
}

bool Source::seekTo(int64_t offset) { return seekable_ && fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0; }

int64_t Source::tell() const { return seekable_ ? static_cast<int64_t>(ftello(file_)) : -1; }

bool growTo(std::vector<uint8_t>& buffer, size_t n) {
    if (buffer.size() >= n) return true;
    try {
        buffer.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool readGrowing(Source& source, std::vector<uint8_t>& buffer, size_t n, size_t* got) {
    constexpr size_t kFirstChunk = size_t{1} << 20;
    size_t done = 0;
    while (done < n) {
        // Each step at most doubles what has arrived, so memory follows the bytes.
        const size_t want = std::min(n - done, std::max(kFirstChunk, done));
        if (!growTo(buffer, done + want)) {
            *got = done;
            return false;
        }
        const size_t read = source.read(buffer.data() + done, want);
        done += read;
        if (read < want) break;
    }
    *got = done;
    return true;
}

std::string cutShortMessage(const std::string& path, int64_t expected, int64_t read, int64_t from) {
    return path + " was cut short while it was read: " + std::to_string(expected) + " frames expected from frame " +
           std::to_string(from) + " (its size when opened), " + std::to_string(read) + " read";
}

}  // namespace lumaqc::io
