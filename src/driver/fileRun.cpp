#include "driver/fileRun.hpp"

#include <utility>

namespace lumaqc::driver {

int Context::open(int32_t width, int32_t height, const lumaqc_settings& settings) {
    close();
    return lumaqc_open(&context_, width, height, &settings);
}

std::string FileRun::openInput(const io::InputRequest& request) {
    reader_.reset();
    first_.reset();
    std::string error;
    reader_ = io::openReader(request, &error);
    return reader_ ? std::string() : error;
}

int FileRun::openContext(lumaqc_settings settings) {
    settings.fps = info().fps;
    return context_.open(info().width, info().height, settings);
}

const io::ReadResult& FileRun::readFirst() {
    // Into the reader's own buffer, which grows as the bytes arrive: nothing
    // of the context's frame size is allocated before a whole frame exists.
    reader_->setTarget(nullptr);
    first_ = reader_->next();
    return *first_;
}

// A picture of the context that cannot be allocated ends the run as a read error does.
static io::ReadResult noMemory(const io::StreamInfo& stream, int64_t frame) {
    io::ReadResult r;
    r.status = io::ReadStatus::Error;
    r.index = frame;
    r.message = "Cannot allocate a picture of " + std::to_string(stream.width) + " x " +
                std::to_string(stream.height) + " pixels for frame " + std::to_string(frame);
    return r;
}

// Rows come out in frame order; warm-up frames have none, and none is
// delivered once an output failed.
void FileRun::receiveOne(const Span& span, Sink& sink, Outcome& outcome) {
    FrameRow row;
    lumaqc_receive_result(context_.get(), &row.values);
    row.frame = span.warmUpFrom + row.values.frame;
    row.ptsTime = presentationTimes_.front();
    presentationTimes_.pop_front();
    if (row.frame < span.start || sink.failed()) return;
    sink.row(row);
    ++outcome.rows;
}

void FileRun::receiveAll(const Span& span, Sink& sink, Outcome& outcome) {
    int inFlight = 0;
    lumaqc_frames_in_flight(context_.get(), &inFlight);
    for (; inFlight > 0; --inFlight) receiveOne(span, sink, outcome);
}

Outcome FileRun::run(const Span& span, Sink& sink) {
    Outcome outcome;
    const io::StreamInfo& stream = info();
    // Raw and Y4M frames have no times of their own: the reports take
    // frame / fps, which keeps durations such as 7 frames at 25 fps exact.
    const bool ownTimes = stream.reader != "raw" && stream.reader != "y4m";
    int64_t i = span.warmUpFrom;
    for (; i < span.end || i < span.start; ++i) {
        if (sink.failed()) {
            outcome.ending = Ending::OutputFailed;
            break;
        }
        if (sink.stopRequested(i - span.warmUpFrom)) {
            outcome.ending = Ending::Stopped;
            break;
        }
        // The piece's own rows start with a new flickering period.
        if (i == span.start && span.warmUpFrom < span.start) {
            receiveAll(span, sink, outcome);
            lumaqc_restart_flickering_period(context_.get());
        }
        io::ReadResult r;
        if (i == span.warmUpFrom) {
            if (!first_) readFirst();
            r = std::move(*first_);
            first_.reset();
        } else {
            uint8_t* buffer = nullptr;
            int status = LUMAQC_OK;
            while ((status = lumaqc_frame_buffer(context_.get(), &buffer)) == LUMAQC_ERROR_AGAIN)
                receiveOne(span, sink, outcome);
            if (status == LUMAQC_OK) {
                reader_->setTarget(buffer);
                r = reader_->next();
            } else {
                r = noMemory(stream, i);
            }
        }
        if (r.status != io::ReadStatus::Frame) receiveAll(span, sink, outcome);
        if (!r.warnings.empty()) sink.warnings(r.warnings);
        if (r.status != io::ReadStatus::Frame) {
            outcome.ending = r.status == io::ReadStatus::Error        ? Ending::ReadError
                             : r.status == io::ReadStatus::ShortFrame ? Ending::ShortFrame
                                                                      : Ending::InputEnded;
            outcome.read = std::move(r);
            break;
        }
        if (i >= span.start) sink.picture(i, r);
        if (lumaqc_send_frame(context_.get(), r.luma.data, r.luma.stride) != LUMAQC_OK) {
            receiveAll(span, sink, outcome);
            outcome.ending = Ending::ReadError;
            outcome.read = noMemory(stream, i);
            break;
        }
        presentationTimes_.push_back(ownTimes ? r.ptsTime : FrameRow{}.ptsTime);
    }
    outcome.frame = i;
    receiveAll(span, sink, outcome);
    return outcome;
}

}  // namespace lumaqc::driver
