// The bytes of an input: a seekable file, or a stream (pipe, FIFO, standard
// input) read strictly in order. Bytes peeked while probing are kept and read
// again first, so a stream loses nothing to the probe.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "io/reader.hpp"

namespace lumaqc::io {

class Source {
public:
    // Opens path ("-" = standard input); on failure (a directory included)
    // returns null and sets *error.
    static std::unique_ptr<Source> open(const std::string& path, std::string* error);
    ~Source();

    bool seekable() const { return seekable_; }
    int64_t size() const { return size_; }  // seekable files only
    FILE* file() const { return file_; }
    const std::string& path() const { return path_; }

    // Up to n bytes from the start, without consuming them.
    std::string peek(size_t n);
    // Reads up to n bytes in order (peeked bytes first); fewer at the end or
    // on an error (then failed() is true and errorNumber() holds errno).
    size_t read(void* to, size_t n);
    // Moves n bytes ahead; false when the input ends (or fails) before.
    bool skip(int64_t n);
    // One line up to and without '\n', at most limit bytes; false at the end
    // of the input before the '\n' (*line then holds what was there).
    bool readLine(std::string* line, size_t limit);
    // Seekable files: position from the start.
    bool seekTo(int64_t offset);
    int64_t tell() const;

    bool failed() const { return errorNumber_ != 0; }
    int errorNumber() const { return errorNumber_; }

private:
    Source() = default;
    FILE* file_ = nullptr;
    bool ownsFile_ = false;
    bool seekable_ = false;
    int64_t size_ = -1;
    std::string path_;
    std::string pending_;  // peeked, not yet consumed
    size_t pendingAt_ = 0;
    int errorNumber_ = 0;
    std::vector<uint8_t> scratch_;
};

// The reader factories behind openReader; the source is already probed.
std::unique_ptr<Reader> openRawReader(std::unique_ptr<Source> source, const InputRequest& request,
                                      std::string* error);
std::unique_ptr<Reader> openY4mReader(std::unique_ptr<Source> source, const InputRequest& request,
                                      std::string* error);
std::unique_ptr<Reader> openLibavReader(std::unique_ptr<Source> source, const InputRequest& request,
                                        std::string* error);

// Grows buffer to at least n bytes; false when that memory is not there.
bool growTo(std::vector<uint8_t>& buffer, size_t n);
// Reads up to n bytes into buffer, which grows as they arrive (a short input
// never costs a whole plane); *got receives the count. False when memory runs out.
bool readGrowing(Source& source, std::vector<uint8_t>& buffer, size_t n, size_t* got);
// The line of an input that ended before frames its size promised when it was opened.
std::string cutShortMessage(const std::string& path, int64_t expected, int64_t read, int64_t from);

// A number as the user typed it, and what it was read as when that differs
// (typed empty: the number alone).
inline std::string shownNumber(const std::string& typed, int64_t value) {
    const std::string number = std::to_string(value);
    if (typed.empty()) return number;
    return "'" + typed + "'" + (typed == number ? "" : " (read as " + number + ")");
}

// High-depth samples to 8 bits: (v + 2^(d-9)) >> (d-8), saturated at 255.
inline uint8_t reduceSample(uint32_t v, int depth) {
    const uint32_t r = (v + (1u << (depth - 9))) >> (depth - 8);
    return static_cast<uint8_t>(r > 255 ? 255 : r);
}

}  // namespace lumaqc::io
