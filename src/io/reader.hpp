// Input readers: the luma plane of every frame of a raw YUV 4:2:0 file, a Y4M
// file or stream, or (through FFmpeg's libraries) any container and codec.
// Readers never print: errors and warnings come back as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumaqc::io {

struct Plane {
    const uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct InputRequest {
    std::string path;    // "-" = standard input
    std::string format;  // "", "raw", "y4m", "libav"
    int32_t width = 0, height = 0;
    bool sizeGiven = false;  // also true whenever width or height is nonzero
    double fps = 0;
    bool fpsGiven = false;
    int64_t start = 0;
    int64_t frames = -1;  // -1 = all
    int32_t threads = 0;  // libav decoder threads, 0 = the decoder's own choice
    bool seek = true;     // libav: reach start by seeking where the input is cuttable
    bool examine = false;  // libav: decide StreamInfo::cuttable fully, reading no frame
    // WIDTH, HEIGHT and startFrame as the user typed them, quoted in messages
    // (empty: the numbers are shown).
    std::string widthText, heightText, startText;
};

struct StreamInfo {
    std::string reader;  // "raw", "y4m", "libav"
    int32_t width = 0, height = 0;
    double fps = 25.0;
    bool fpsKnown = false;    // given, or read from the header or container
    int64_t frameCount = -1;  // whole frames available from start, -1 unknown
    bool damaged = false;     // what follows those frames is damaged: reading there reports it
    bool seekable = false;
    // A stream's length as its container tells it, in frames from the first
    // one wanted (-1 unknown): an estimate, for progress only.
    int64_t expectedFrames = -1;
    // The container's start timecode, "HH:MM:SS:FF" (";" before FF when drop-frame); empty when none.
    std::string startTimecode;
    // Whether a piece may start at any frame, reached by seeking (libav:
    // an MP4/MOV or Matroska file with an index, at a constant rate); when
    // not, why the input is read whole ("standard input", "variable frame rate", ...).
    bool cuttable = false;
    std::string wholeReason;
};

enum class ReadStatus {
    Frame,       // luma holds frame `index`
    End,         // the requested frames were delivered, or the input ended with all frames wanted
    ShortFrame,  // the input ended before frame `index` of an explicit count; bytesRead = its luma
                 // bytes that were present (raw and y4m; 0 for libav)
    Error        // message says why; raw read errors also set systemError (errno) and bytesRead
};

struct ReadResult {
    ReadStatus status = ReadStatus::End;
    Plane luma;  // valid until the next call of next()
    const void* decoded = nullptr;  // libav: the decoder's picture of the frame (for colour copies), as luma
    int64_t index = 0;
    double ptsTime = 0;  // seconds: index / fps (raw, y4m), the frame's timestamp (libav)
    size_t bytesRead = 0;
    int systemError = 0;
    std::string message;
    std::vector<std::string> warnings;  // e.g. damaged packets before this frame, with frame indexes
};

class Reader {
public:
    virtual ~Reader() = default;
    virtual const StreamInfo& info() const = 0;
    virtual ReadResult next() = 0;
    // Asks the reader to write the next frames' luma into buffer (width x height
    // bytes, stride = width), e.g. the analysis library's frame buffer, and to
    // return planes pointing at it; may be called again before every next().
    // Returns false when the reader cannot (libav: planes stay the decoder's).
    virtual bool setTarget(uint8_t* buffer) {
        (void)buffer;
        return false;
    }
    // A warning found while opening, handed out with the first frame read.
    void addWarning(std::string text) { pendingWarnings_.push_back(std::move(text)); }

protected:
    // Moves the pending warnings into r (the readers call it in next()).
    void takeWarnings(ReadResult& r) {
        for (std::string& w : pendingWarnings_) r.warnings.push_back(std::move(w));
        pendingWarnings_.clear();
    }

private:
    std::vector<std::string> pendingWarnings_;
};

// What head begins like: "an MP4 or QuickTime file", "a Matroska or WebM
// file", ..., or null for no container's signature. Raw YUV that begins like one is unlikely.
const char* containerSignature(const std::string& head);

// Opens and probes; on failure returns null and sets *error to a one-line message.
std::unique_ptr<Reader> openReader(const InputRequest& request, std::string* error);

// True when this build has the libav module (FFmpeg's libraries are loaded with it,
// when a container is first read).
bool libavAvailable();

}  // namespace lumaqc::io
