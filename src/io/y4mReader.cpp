// Y4M: a "YUV4MPEG2 " header line with the picture's parameters, then frames,
// each a "FRAME" line followed by its planes (luma first). Samples of more than
// 8 bits take two bytes, little-endian, and are reduced to 8 bits.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>

#include "io/source.hpp"

namespace lumaqc::io {
namespace {

constexpr size_t kLineLimit = 1 << 16;

bool isFrameLine(const std::string& line) {
    return line.compare(0, 5, "FRAME") == 0 && (line.size() == 5 || line[5] == ' ');
}

// A line that readLine stopped at its limit, not at the input's end.
bool tooLong(const std::string& line) { return line.size() >= kLineLimit; }

// Whole decimal number in [low, high].
bool parseNumber(const std::string& text, int64_t low, int64_t high, int64_t* value) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::strtoll(text.c_str(), nullptr, 10);
    return *value >= low && *value <= high;
}

// Bit depth and the samples of the planes after luma, for colour space c.
bool parseColour(const std::string& c, int64_t w, int64_t h, int* depth, int64_t* otherSamples) {
    std::string rest;
    const int64_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    if (c.compare(0, 4, "mono") == 0) {
        rest = c.substr(4);
        *otherSamples = 0;
    } else {
        const std::string base = c.substr(0, 3);
        rest = c.substr(std::min<size_t>(3, c.size()));
        if (base == "420") {
            *otherSamples = 2 * halfW * halfH;
            if (rest == "jpeg" || rest == "paldv" || rest == "mpeg2") rest.clear();
        } else if (base == "422") {
            *otherSamples = 2 * halfW * h;
        } else if (base == "444") {
            *otherSamples = 2 * w * h;
            if (rest == "alpha") {
                *otherSamples = 3 * w * h;
                rest.clear();
            }
        } else if (base == "411") {
            *otherSamples = 2 * ((w + 3) / 4) * h;
        } else {
            return false;
        }
    }
    if (rest.empty()) {
        *depth = 8;
        return true;
    }
    if (rest[0] == 'p') rest.erase(0, 1);
    int64_t d = 0;
    if (!parseNumber(rest, 8, 16, &d)) return false;
    *depth = static_cast<int>(d);
    return true;
}

class Y4mReader final : public Reader {
public:
    Y4mReader(std::unique_ptr<Source> source, const InputRequest& request, const StreamInfo& info, int depth,
              int64_t frameBytes)
        : source_(std::move(source)),
          info_(info),
          depth_(depth),
          lumaBytes_(static_cast<int64_t>(info.width) * info.height * (depth > 8 ? 2 : 1)),
          frameBytes_(frameBytes),
          firstFrame_(request.start),
          next_(request.start),
          allFrames_(request.frames < 0) {
        if (!allFrames_) end_ = request.frames > INT64_MAX - request.start ? INT64_MAX : request.start + request.frames;
    }

    // Seekable files: count the whole frames, and find where frame `start` begins.
    void scan() {
        int64_t pos = source_->tell();
        int64_t whole = 0;
        std::string line;
        startOffset_ = -1;
        bool damaged = false;
        for (;;) {
            if (whole == next_) startOffset_ = pos;
            if (!source_->seekTo(pos)) break;
            if (!source_->readLine(&line, kLineLimit)) {
                damaged = damagedTooLong_ = tooLong(line);
                break;
            }
            damaged = !isFrameLine(line);
            const int64_t after = source_->tell() + frameBytes_;
            if (damaged || after > source_->size()) break;
            ++whole;
            pos = after;
        }
        info_.frameCount = whole > next_ ? whole - next_ : 0;
        info_.damaged = damaged;
        wholeAtOpen_ = whole;
        damagedFrame_ = damaged ? whole : -1;
        // A damaged frame is left for next() to report.
        if (allFrames_ && !damaged) end_ = whole > next_ ? whole : next_;
        // Beyond the whole frames: start reading where the partial one begins.
        if (startOffset_ < 0) {
            startOffset_ = pos;
            startBeyond_ = next_ > whole;
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
        if (end_ >= 0 && next_ >= end_) return r;
        if (!started_) {
            started_ = true;
            if (info_.seekable) {
                // A start past a damaged frame meets the damage, as a stream skipping to it does.
                if (startBeyond_ && damagedFrame_ >= 0) return badFrameLine(r, damagedFrame_, damagedTooLong_);
                if (startBeyond_ || !source_->seekTo(startOffset_)) return missing(r, 0, false);
            } else {
                std::string line;
                for (int64_t i = 0; i < next_; ++i) {
                    if (!source_->readLine(&line, kLineLimit)) {
                        if (tooLong(line)) return badFrameLine(r, i, true);
                        return missing(r, 0, false);
                    }
                    if (!isFrameLine(line)) return badFrameLine(r, i, false);
                    if (!source_->skip(frameBytes_)) return missing(r, 0, false);
                }
            }
        }
        std::string line;
        if (!source_->readLine(&line, kLineLimit)) {
            if (source_->failed()) return readError(r, 0);
            if (tooLong(line)) return badFrameLine(r, next_, true);
            return missing(r, 0, !line.empty());
        }
        if (!isFrameLine(line)) return badFrameLine(r, next_, false);
        uint8_t* to = target_;
        size_t got = 0;
        if (depth_ == 8) {
            if (to != nullptr) {
                got = source_->read(to, static_cast<size_t>(lumaBytes_));
            } else {
                // Without a target the plane grows as its bytes arrive.
                if (!readGrowing(*source_, own_, static_cast<size_t>(lumaBytes_), &got)) return noMemory(r);
                to = own_.data();
            }
        } else {
            const size_t w = static_cast<size_t>(info_.width);
            row_.resize(2 * w);
            for (int32_t y = 0; y < info_.height; ++y) {
                const size_t rowGot = source_->read(row_.data(), row_.size());
                got += rowGot;
                if (rowGot < row_.size()) break;
                if (target_ == nullptr) {
                    if (!growTo(own_, (static_cast<size_t>(y) + 1) * w)) return noMemory(r);
                    to = own_.data();
                }
                uint8_t* out = to + y * w;
                for (size_t x = 0; x < w; ++x)
                    out[x] = reduceSample(static_cast<uint32_t>(row_[2 * x]) | (static_cast<uint32_t>(row_[2 * x + 1]) << 8),
                                          depth_);
            }
        }
        if (source_->failed()) return readError(r, got);
        if (got < static_cast<size_t>(lumaBytes_)) return missing(r, got, true);
        if (!source_->skip(frameBytes_ - lumaBytes_)) {
            if (source_->failed()) return readError(r, got);
            return missing(r, got, true);
        }
        r.status = ReadStatus::Frame;
        r.luma = Plane{to, info_.width, info_.width, info_.height};
        r.ptsTime = info_.fps > 0 ? static_cast<double>(next_) / info_.fps : 0.0;
        ++next_;
        return r;
    }

private:
    ReadResult fail(ReadResult& r, const std::string& message) {
        end_ = next_;
        r.status = ReadStatus::Error;
        r.message = message;
        return r;
    }

    ReadResult badFrameLine(ReadResult& r, int64_t frame, bool lineTooLong) {
        return fail(r, "Frame " + std::to_string(frame) + " of " + source_->path() +
                           (lineTooLong ? " has a FRAME line longer than " + std::to_string(kLineLimit) + " bytes"
                                        : std::string(" does not begin with a FRAME line")) +
                           ": the Y4M stream is damaged");
    }

    ReadResult noMemory(ReadResult& r) {
        return fail(r, "Cannot allocate a picture of " + std::to_string(info_.width) + " x " +
                            std::to_string(info_.height) + " pixels");
    }

    ReadResult readError(ReadResult& r, size_t got) {
        r.systemError = source_->errorNumber();
        r.bytesRead = got;
        return fail(r, "Read error in frame " + std::to_string(next_) + " of " + source_->path() + ": " +
                           std::strerror(r.systemError));
    }

    // The input ended inside frame next_ (got of its luma bytes present).
    ReadResult missing(ReadResult& r, size_t got, bool partial) {
        // A file that held this frame whole when it was opened has shrunk since.
        if (info_.seekable && next_ < wholeAtOpen_) {
            const int64_t promised = end_ >= 0 ? std::min(end_, wholeAtOpen_) : wholeAtOpen_;
            return fail(r, cutShortMessage(source_->path(), promised - firstFrame_, next_ - firstFrame_, firstFrame_));
        }
        end_ = next_;
        if (allFrames_) {
            if (partial) r.warnings.push_back("Frame " + std::to_string(next_) + " is incomplete: ignored");
            return r;  // End
        }
        r.status = ReadStatus::ShortFrame;
        r.bytesRead = got;
        return r;
    }

    std::unique_ptr<Source> source_;
    StreamInfo info_;
    const int depth_;
    const int64_t lumaBytes_;  // in the file
    const int64_t frameBytes_;
    const int64_t firstFrame_;
    int64_t next_;
    int64_t end_ = -1;
    const bool allFrames_;
    bool started_ = false;
    int64_t startOffset_ = -1;
    bool startBeyond_ = false;
    int64_t wholeAtOpen_ = -1;   // seekable: whole frames when opened
    int64_t damagedFrame_ = -1;  // seekable: the frame whose FRAME line is damaged
    bool damagedTooLong_ = false;  // and whether that line is too long
    uint8_t* target_ = nullptr;
    std::vector<uint8_t> own_;
    std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<Reader> openY4mReader(std::unique_ptr<Source> source, const InputRequest& request,
                                      std::string* error) {
    const std::string& path = source->path();
    std::string header;
    if (!source->readLine(&header, kLineLimit)) {
        *error = source->failed() ? "Cannot read " + path + ": " + std::strerror(source->errorNumber())
                                  : path + ": the Y4M header line is truncated or too long";
        return nullptr;
    }
    int64_t w = 0, h = 0;
    int depth = 8;
    std::string colour = "420jpeg";
    StreamInfo info;
    info.reader = "y4m";
    std::istringstream tokens(header.substr(10));
    std::string token;
    std::string seen;  // the parameters that shape the picture, each allowed once
    while (tokens >> token) {
        const std::string value = token.substr(1);
        if (std::string("WHCF").find(token[0]) != std::string::npos) {
            if (seen.find(token[0]) != std::string::npos) {
                *error = path + ": the Y4M header gives the parameter " + token[0] + " twice";
                return nullptr;
            }
            seen.push_back(token[0]);
        }
        bool ok = true;
        switch (token[0]) {
            case 'W': ok = parseNumber(value, 1, INT32_MAX, &w); break;
            case 'H': ok = parseNumber(value, 1, INT32_MAX, &h); break;
            case 'C': colour = value; break;
            case 'F': {
                const size_t colon = value.find(':');
                int64_t num = 0, den = 0;
                ok = colon != std::string::npos && parseNumber(value.substr(0, colon), 0, INT64_MAX, &num) &&
                     parseNumber(value.substr(colon + 1), 0, INT64_MAX, &den);
                if (ok && num > 0 && den > 0) {
                    info.fps = static_cast<double>(num) / static_cast<double>(den);
                    info.fpsKnown = true;
                }
                break;
            }
            default: break;  // I (interlacing), A (aspect), X (comments) do not change the luma plane
        }
        if (!ok) {
            *error = path + ": unsupported Y4M header parameter '" + token + "'";
            return nullptr;
        }
    }
    if (w == 0 || h == 0) {
        *error = path + ": the Y4M header lacks the picture size (W and H)";
        return nullptr;
    }
    if (w * h > INT32_MAX / 3) {  // w * h * 3 fits 32 bits (and w * h * 3 may not fit 64)
        *error = path + ": the Y4M picture of " + std::to_string(w) + " x " + std::to_string(h) +
                 " is too large: at most 715827882 pixels per frame are supported";
        return nullptr;
    }
    int64_t otherSamples = 0;
    if (!parseColour(colour, w, h, &depth, &otherSamples)) {
        *error = path + ": unsupported Y4M colour space 'C" + colour + "'";
        return nullptr;
    }
    const bool sizeGiven = request.sizeGiven || request.width != 0 || request.height != 0;
    if (sizeGiven && (request.width != w || request.height != h)) {
        *error = path + ": the Y4M header gives " + std::to_string(w) + " x " + std::to_string(h) + ", not the " +
                 std::to_string(request.width) + " x " + std::to_string(request.height) + " given";
        return nullptr;
    }
    info.width = static_cast<int32_t>(w);
    info.height = static_cast<int32_t>(h);
    if (request.fpsGiven) {
        info.fps = request.fps;
        info.fpsKnown = true;
    }
    info.seekable = source->seekable();
    const int64_t frameBytes = (w * h + otherSamples) * (depth > 8 ? 2 : 1);
    auto reader = std::make_unique<Y4mReader>(std::move(source), request, info, depth, frameBytes);
    if (info.seekable) reader->scan();
    return reader;
}

}  // namespace lumaqc::io
