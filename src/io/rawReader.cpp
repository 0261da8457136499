// Raw 8-bit YUV 4:2:0: frame i starts at byte i * (w * h * 3 / 2), its luma
// plane is the first w * h bytes. Seekable files are read as the driver has
// always read them (seek, then read the luma plane); streams in order.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "io/source.hpp"

namespace lumaqc::io {
namespace {

class RawReader final : public Reader {
public:
    RawReader(std::unique_ptr<Source> source, const InputRequest& request)
        : source_(std::move(source)),
          lumaBytes_(static_cast<int64_t>(request.width) * request.height),
          frameBytes_(static_cast<int64_t>(request.width) * request.height * 3 / 2),
          firstFrame_(request.start),
          next_(request.start),
          allFrames_(request.frames < 0) {
        info_.reader = "raw";
        info_.width = request.width;
        info_.height = request.height;
        info_.fps = request.fpsGiven ? request.fps : 25.0;
        info_.fpsKnown = request.fpsGiven;
        info_.seekable = source_->seekable();
        // Every whole frame of the file; a trailing partial frame is dropped.
        const int64_t whole = info_.seekable ? source_->size() / frameBytes_ : -1;
        if (info_.seekable) info_.frameCount = whole > request.start ? whole - request.start : 0;
        // Frames whose bytes the file held when opened: whole ones, or with a
        // count their luma planes, as the count is read.
        if (info_.seekable)
            presentAtOpen_ = allFrames_ ? whole
                             : source_->size() >= lumaBytes_ ? (source_->size() - lumaBytes_) / frameBytes_ + 1
                                                             : 0;
        if (!allFrames_) {
            end_ = request.frames > INT64_MAX - request.start ? INT64_MAX : request.start + request.frames;
        } else if (info_.seekable) {
            end_ = whole > request.start ? whole : request.start;
        }
    }

    const StreamInfo& info() const override { return info_; }
    bool setTarget(uint8_t* buffer) override {
        target_ = buffer;
        if (buffer != nullptr) std::vector<uint8_t>().swap(own_);
        return true;
    }

    ReadResult next() override {
        ReadResult r;
        r.index = next_;
        takeWarnings(r);
        if (end_ >= 0 && next_ >= end_) return r;  // End
        uint8_t* to = target_;
        const size_t luma = static_cast<size_t>(lumaBytes_);
        if (info_.seekable) {
            FILE* file = source_->file();
            int64_t offset = 0;
            size_t got = 0;
            if (!__builtin_mul_overflow(next_, frameBytes_, &offset)) {
                if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return readError(r, errno, 0);
                if (to != nullptr) {
                    got = std::fread(to, 1, luma, file);
                } else {
                    if (!readGrowing(*source_, own_, luma, &got)) return noMemory(r);
                    to = own_.data();
                }
                if (std::ferror(file)) return readError(r, errno, got);
            }
            if (got < luma) return missing(r, got, false);
        } else {
            if (!startReached_) {
                startReached_ = true;
                int64_t skipped = 0;
                if (__builtin_mul_overflow(next_, frameBytes_, &skipped) || !source_->skip(skipped)) {
                    if (source_->failed()) return readError(r, source_->errorNumber(), 0);
                    return missing(r, 0, false);
                }
            }
            size_t got = 0;
            if (to != nullptr) {
                got = source_->read(to, luma);
            } else {
                // Without a target the plane grows as its bytes arrive.
                if (!readGrowing(*source_, own_, luma, &got)) return noMemory(r);
                to = own_.data();
            }
            if (source_->failed()) return readError(r, source_->errorNumber(), got);
            if (got < luma) return missing(r, got, got > 0);
            // With every frame wanted, a frame counts only when it is whole, as
            // for files; with a count, only its luma matters, as for files.
            if (!source_->skip(frameBytes_ - lumaBytes_)) {
                if (source_->failed()) return readError(r, source_->errorNumber(), got);
                // With a count the next frame finds nothing, as in a file.
                if (allFrames_) return missing(r, got, true);
            }
        }
        r.status = ReadStatus::Frame;
        r.luma = Plane{to, info_.width, info_.width, info_.height};
        r.ptsTime = info_.fps > 0 ? static_cast<double>(next_) / info_.fps : 0.0;
        ++next_;
        return r;
    }

private:

    ReadResult error(ReadResult& r, const std::string& message) {
        r.status = ReadStatus::Error;
        r.message = message;
        return r;
    }

    ReadResult noMemory(ReadResult& r) {
        return error(r, "Cannot allocate a picture of " + std::to_string(info_.width) + " x " +
                            std::to_string(info_.height) + " pixels");
    }

    ReadResult readError(ReadResult& r, int systemError, size_t got) {
        r.systemError = systemError;
        r.bytesRead = got;
        end_ = next_;
        return error(r, "Read error in frame " + std::to_string(next_) + " of " + source_->path() + ": " +
                            std::strerror(systemError));
    }

    // The input ended inside frame next_ (got of its luma bytes present).
    ReadResult missing(ReadResult& r, size_t got, bool partial) {
        // A file that held this frame when it was opened has shrunk since.
        if (next_ < presentAtOpen_) {
            const int64_t promised = end_ >= 0 ? std::min(end_, presentAtOpen_) : presentAtOpen_;
            end_ = next_;
            return error(r, cutShortMessage(source_->path(), promised - firstFrame_, next_ - firstFrame_, firstFrame_));
        }
        end_ = next_;
        if (allFrames_ && !info_.seekable) {
            if (partial) r.warnings.push_back("Frame " + std::to_string(next_) + " is incomplete: ignored");
            return r;  // End
        }
        r.status = ReadStatus::ShortFrame;
        r.bytesRead = got;
        return r;
    }

    std::unique_ptr<Source> source_;
    StreamInfo info_;
    const int64_t lumaBytes_;
    const int64_t frameBytes_;
    const int64_t firstFrame_;
    int64_t next_;
    int64_t end_ = -1;  // -1: until the stream ends
    const bool allFrames_;
    bool startReached_ = false;
    int64_t presentAtOpen_ = -1;  // seekable: the frames the file held when opened
    uint8_t* target_ = nullptr;
    std::vector<uint8_t> own_;
};

// Seekable files: whether the frames asked for begin inside the file (every
// frame: frame start is whole; a count: its luma plane is there, as the
// reader has always needed); else why not.
std::string checkStart(const Source& source, const InputRequest& request) {
    const int64_t luma = static_cast<int64_t>(request.width) * request.height;
    const int64_t frame = luma * 3 / 2;
    const int64_t size = source.size();
    const int64_t whole = size / frame;
    const bool all = request.frames < 0;
    const bool there = all ? request.start < whole : size >= luma && request.start <= (size - luma) / frame;
    if (there) return {};
    const std::string picture = std::to_string(request.width) + " x " + std::to_string(request.height);
    if (size < (all ? frame : luma))
        return source.path() + " holds no whole frame of " + picture + " (" + std::to_string(frame) +
               " bytes each): it has " + std::to_string(size) + " bytes";
    return "The start frame " + shownNumber(request.startText, request.start) + " lies past the end of " + source.path() +
           ", which holds " + std::to_string(whole) + " whole frames of " + picture;
}

}  // namespace

std::unique_ptr<Reader> openRawReader(std::unique_ptr<Source> source, const InputRequest& request,
                                      std::string* error) {
    // The driver's checks and wording, with the numbers as typed.
    if (request.width <= 0) {
        *error = "Invalid WIDTH " + shownNumber(request.widthText, request.width) + ": it must be a positive integer";
    } else if (request.height <= 0) {
        *error = "Invalid HEIGHT " + shownNumber(request.heightText, request.height) + ": it must be a positive integer";
    } else if (static_cast<int64_t>(request.width) * request.height > INT32_MAX / 3) {  // w * h * 3 fits 32 bits
        *error = "WIDTH x HEIGHT " + shownNumber(request.widthText, request.width) + " x " +
                 shownNumber(request.heightText, request.height) +
                 " is too large: at most 715827882 pixels per frame are supported";
    } else if (request.start < 0) {
        *error = "Invalid startFrame " + shownNumber(request.startText, request.start) + ": it must not be negative";
    } else if (source->seekable() && request.frames != 0 && !(*error = checkStart(*source, request)).empty()) {
        return nullptr;
    } else {
        return std::make_unique<RawReader>(std::move(source), request);
    }
    return nullptr;
}

}  // namespace lumaqc::io
