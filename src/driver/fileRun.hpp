// One input analysed frame by frame: the reader, the context and the loop
// between them, written once for the command line (one input or many) and the
// Python module. What becomes of the rows, the warnings and when to stop is
// the caller's (a Sink); the driver itself prints nothing.
//
//     FileRun run;
//     if (std::string e = run.openInput(request); !e.empty()) -> error
//     if (run.openContext(settings) != LUMAQC_OK) -> error
//     optionally run.readFirst() before the outputs are created
//     const Outcome o = run.run(span, sink);
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/reader.hpp"
#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"

namespace lumaqc::driver {

// A context of the library, closed when its owner goes.
class Context {
public:
    Context() = default;
    ~Context() { close(); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Opens a context (closing the one held); the library's status.
    int open(int32_t width, int32_t height, const lumaqc_settings& settings);
    void close() { lumaqc_close(&context_); }
    lumaqc_context* get() const { return context_; }

private:
    lumaqc_context* context_ = nullptr;
};

// What the caller does with a run; called on the thread running the loop.
class Sink {
public:
    virtual ~Sink() = default;
    // The row of every frame from the span's start on, in frame order.
    virtual void row(const FrameRow& row) = 0;
    // The reader's warnings, when they come (before the frame they came with).
    virtual void warnings(std::vector<std::string>& texts) = 0;
    // Whether an output failed: no further row is delivered, no frame read.
    virtual bool failed() { return false; }
    // Every frame from the span's start on as it is read (rows come later),
    // its planes valid only during the call.
    virtual void picture(int64_t frame, const io::ReadResult& read) {
        (void)frame;
        (void)read;
    }
    // Asked before each frame is read, after `read` frames: whether to stop.
    virtual bool stopRequested(int64_t read) = 0;
};

// The frames of a run: from warmUpFrom on analysed (a piece's warm-up frames,
// before start, without rows), none from end on (INT64_MAX: to the input's end).
struct Span {
    int64_t warmUpFrom = 0;
    int64_t start = 0;
    int64_t end = INT64_MAX;
};

enum class Ending {
    SpanDone,      // the span's end was reached
    InputEnded,    // the reader had no further frame (End)
    ShortFrame,    // the input ended inside the frame `frame` of an explicit count
    ReadError,     // the reader failed at frame `frame`
    Stopped,       // stopRequested said so
    OutputFailed,  // the sink failed
};

struct Outcome {
    Ending ending = Ending::SpanDone;
    int64_t frame = 0;   // the frame the loop ended at (not analysed)
    int64_t rows = 0;    // rows delivered
    io::ReadResult read; // ShortFrame, ReadError: what the reader said
};

class FileRun {
public:
    // Opens the input (closing one held); an error text, empty on success.
    std::string openInput(const io::InputRequest& request);
    const io::StreamInfo& info() const { return reader_->info(); }
    // Opens the context at the stream's size and rate (settings.fps is the
    // stream's); the library's status.
    int openContext(lumaqc_settings settings);
    lumaqc_context* context() const { return context_.get(); }

    // Reads the span's first frame now (run() does otherwise), into the
    // reader's own buffer, so that no picture of the context is allocated
    // before a whole frame exists; run() starts with it. The caller looks at
    // what came back.
    const io::ReadResult& readFirst();

    // The frame loop over span: reads, analyses, delivers the rows; the
    // frames in flight are received whatever the ending.
    Outcome run(const Span& span, Sink& sink);

    void closeContext() { context_.close(); }
    void closeReader() { reader_.reset(); }

private:
    void receiveOne(const Span& span, Sink& sink, Outcome& outcome);
    void receiveAll(const Span& span, Sink& sink, Outcome& outcome);

    std::unique_ptr<io::Reader> reader_;
    Context context_;
    std::optional<io::ReadResult> first_;
    std::deque<double> presentationTimes_;  // of the frames in flight, oldest first
};

}  // namespace lumaqc::driver
