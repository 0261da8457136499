// The module lumaqc_libav: any container and codec through FFmpeg's
// libraries, the best video stream, decoded with the decoder's own threading,
// frames numbered in presentation order from 0. 8-bit luma is exposed straight
// from the decoder's buffer. Loaded at run time only when a container is read,
// so that nothing else maps FFmpeg's libraries (see io/libavModule.h).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

#include "io/libavModule.h"
#include "io/source.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace lumaqc::io {
namespace {

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int readSource(void* opaque, uint8_t* to, int size) {
    const lumaqc_libav_source* source = static_cast<const lumaqc_libav_source*>(opaque);
    const int got = source->read(source->opaque, to, size);
    if (got > 0) return got;
    return got < 0 ? AVERROR(-got) : AVERROR_EOF;
}

int64_t seekSource(void* opaque, int64_t offset, int whence) {
    const lumaqc_libav_source* source = static_cast<const lumaqc_libav_source*>(opaque);
    if (whence & AVSEEK_SIZE) return source->size(source->opaque);
    int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: break;
        case SEEK_CUR: to += source->tell(source->opaque); break;
        case SEEK_END: to += source->size(source->opaque); break;
        default: return AVERROR(EINVAL);
    }
    return source->seek_to(source->opaque, to) ? to : AVERROR(EIO);
}

// Frame indexes of a constant rate: a timestamp's offset from the first
// frame's, in frames, in exact rational arithmetic.
struct FrameGrid {
    AVRational timeBase{1, 1};
    AVRational rate{0, 1};  // frames per second

    bool valid() const { return timeBase.num > 0 && timeBase.den > 0 && rate.num > 0 && rate.den > 0; }

    static __int128 floorDivide(__int128 a, __int128 b) {  // b > 0
        const __int128 q = a / b;
        return q * b > a ? q - 1 : q;
    }

    // The nearest index of ts counted from origin; false when ts lies more
    // than a quarter frame off the grid (Matroska rounds to milliseconds).
    bool indexOf(int64_t ts, int64_t origin, int64_t* index) const {
        if (!valid()) return false;
        const __int128 num = (static_cast<__int128>(ts) - origin) * timeBase.num * rate.num;
        const __int128 den = static_cast<__int128>(timeBase.den) * rate.den;
        const __int128 nearest = floorDivide(2 * num + den, 2 * den);
        const __int128 off = num - nearest * den;
        if (4 * (off < 0 ? -off : off) > den || nearest < INT64_MIN || nearest > INT64_MAX) return false;
        *index = static_cast<int64_t>(nearest);
        return true;
    }

    // The timestamp of frame index counted from origin, rounded to the nearest tick.
    int64_t timestampOf(int64_t index, int64_t origin) const {
        if (!valid()) return origin;
        const __int128 num = static_cast<__int128>(index) * timeBase.den * rate.den;
        const __int128 den = static_cast<__int128>(timeBase.num) * rate.num;
        const __int128 ts = origin + floorDivide(2 * num + den, 2 * den);
        return ts < INT64_MIN ? INT64_MIN : ts > INT64_MAX ? INT64_MAX : static_cast<int64_t>(ts);
    }
};

// Families of containers whose index lets a piece start by seeking.
enum class Family { Other, Mp4, Matroska };

Family familyOf(const AVInputFormat* format) {
    const std::string name = format->name;
    if (name.find("mp4") != std::string::npos || name.find("mov") != std::string::npos) return Family::Mp4;
    if (name.find("matroska") != std::string::npos || name.find("webm") != std::string::npos) return Family::Matroska;
    return Family::Other;
}

class LibavReader {
public:
    LibavReader(const lumaqc_libav_source* source, const lumaqc_libav_request& request)
        : source_(source), path_(source->path), start_(request.start), request_(request) {
        if (request.frames >= 0)
            end_ = request.frames > INT64_MAX - request.start ? INT64_MAX : request.start + request.frames;
    }

    ~LibavReader() {
        sws_freeContext(sws_);
        closeStreams();
    }

    // Opens the container and the decoder, and decodes up to the first frame
    // wanted, which fixes the picture size. Returns an error text or "".
    std::string open() {
        if (std::string error = openStreams(); !error.empty()) return error;
        // A start after frame 0 is reached by seeking where the indexes of the frames
        // are exact; any doubt on the way decodes from the beginning instead.
        if (start_ > 0 && request_.seek && containerWholeReason().empty() && !seekToStart())
            if (std::string error = reopenLinear(start_, false); !error.empty()) return error;
        pending_ = produce();
        hasPending_ = true;
        if (pending_.status == ReadStatus::Error) return pending_.message;
        if (info_.width <= 0 || info_.height <= 0) return path_ + ": no picture could be decoded";
        if (static_cast<int64_t>(info_.width) * info_.height > INT32_MAX / 3)  // w * h * 3 fits 32 bits
            return path_ + ": the picture of " + std::to_string(info_.width) + " x " + std::to_string(info_.height) +
                   " is too large: at most 715827882 pixels per frame are supported";
        // Matroska's demuxer reads the cues only when it first seeks: a
        // reader opened to examine the input seeks once, and reads no frame after.
        if (request_.examine && familyOf(format_->iformat) == Family::Matroska && containerWholeReason().empty() &&
            firstTimestamp_ != AV_NOPTS_VALUE) {
            hasPending_ = false;
            finished_ = true;
            info_.wholeReason = matroskaFrames(INT64_MAX);
            if (info_.wholeReason.empty()) info_.wholeReason = wholeReason();
            info_.cuttable = info_.wholeReason.empty();
            return {};
        }
        info_.wholeReason = wholeReason();
        info_.cuttable = info_.wholeReason.empty();
        return {};
    }

    const StreamInfo& info() const { return info_; }

    ReadResult next() {
        if (hasPending_) {
            hasPending_ = false;
            return std::move(pending_);
        }
        return produce();
    }

private:
    // The demuxer and the decoder at the beginning of the input.
    std::string openStreams() {
        const std::string& path = path_;
        if (source_->seekable && !headChecked_) {
            headChecked_ = true;
            matroskaCues_ = pointsToCues();
            if (!source_->seek_to(source_->opaque, 0)) return path + ": cannot go back to the beginning of the input";
        }
        constexpr int kBufferSize = 1 << 16;
        uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
        if (buffer == nullptr) return "Cannot allocate the input buffer";
        io_ = avio_alloc_context(buffer, kBufferSize, 0, const_cast<lumaqc_libav_source*>(source_), readSource,
                                 nullptr, source_->seekable ? seekSource : nullptr);
        if (io_ == nullptr) {
            av_free(buffer);
            return "Cannot allocate the input buffer";
        }
        io_->seekable = source_->seekable ? AVIO_SEEKABLE_NORMAL : 0;
        format_ = avformat_alloc_context();
        if (format_ == nullptr) return "Cannot allocate the demuxer";
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        // The name only helps the probe (by its extension); the bytes come from the source.
        int ret = avformat_open_input(&format_, path == "-" ? "" : path.c_str(), nullptr, nullptr);
        if (ret < 0) return path + ": not a video file that libav can read (" + avErrorText(ret) + ")";
        // The index the header holds (Matroska's cues), before reading packets
        // adds the key frames met on the way.
        indexAtOpen_.assign(format_->nb_streams, 0);
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            indexAtOpen_[i] = avformat_index_get_entries_count(format_->streams[i]);
        if (std::string(format_->iformat->name) == "tty")
            return path + ": not a video file that libav can read (it is text)";
        ret = avformat_find_stream_info(format_, nullptr);
        if (ret < 0) return path + ": cannot read the streams (" + avErrorText(ret) + ")";
        const AVCodec* codec = nullptr;
        streamIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (streamIndex_ == AVERROR_STREAM_NOT_FOUND) return path + " has no video stream";
        if (streamIndex_ < 0) return path + ": no decoder for its video stream (" + avErrorText(streamIndex_) + ")";
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            if (static_cast<int>(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
        AVStream* stream = format_->streams[streamIndex_];
        timeBase_ = stream->time_base;
        grid_ = FrameGrid{stream->time_base, stream->avg_frame_rate};
        decoder_ = avcodec_alloc_context3(codec);
        if (decoder_ == nullptr) return "Cannot allocate the decoder";
        ret = avcodec_parameters_to_context(decoder_, stream->codecpar);
        if (ret < 0) return path + ": " + avErrorText(ret);
        decoder_->thread_count = request_.threads;
        decoder_->pkt_timebase = stream->time_base;
        ret = avcodec_open2(decoder_, codec, nullptr);
        if (ret < 0) return path + ": cannot open the " + codec->name + " decoder (" + avErrorText(ret) + ")";
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (packet_ == nullptr || frame_ == nullptr) return "Cannot allocate the decoder's frames";

        info_.width = stream->codecpar->width;
        info_.height = stream->codecpar->height;
        if (request_.fps_given) {
            info_.fps = request_.fps;
            info_.fpsKnown = true;
        } else if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
            info_.fps = av_q2d(stream->avg_frame_rate);
            info_.fpsKnown = true;
        }
        if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
            frameSeconds_ = av_q2d(av_inv_q(stream->avg_frame_rate));
        info_.expectedFrames = expectedFrames(stream);
        info_.startTimecode = startTimecode(stream);
        return {};
    }

    // Whether a Matroska SeekHead in the first bytes names a Cues element
    // (the demuxer reads the cues only when it first seeks).
    bool pointsToCues() const {
        static constexpr uint8_t kSeekToCues[] = {0x53, 0xAB, 0x84, 0x1C, 0x53, 0xBB, 0x6B};
        std::vector<uint8_t> head(1 << 16);
        size_t have = 0;
        for (int got; have < head.size() &&
                      (got = source_->read(source_->opaque, head.data() + have, static_cast<int>(head.size() - have))) > 0;)
            have += static_cast<size_t>(got);
        return std::search(head.begin(), head.begin() + static_cast<ptrdiff_t>(have), std::begin(kSeekToCues),
                           std::end(kSeekToCues)) != head.begin() + static_cast<ptrdiff_t>(have);
    }

    void closeStreams() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&decoder_);
        avformat_close_input(&format_);
        if (io_ != nullptr) av_freep(&io_->buffer);
        avio_context_free(&io_);
    }

    // Opens the input again to decode it from its beginning, handing out
    // frames from `from` on; the warnings of the frames before it are dropped
    // when those frames were handed out already.
    std::string reopenLinear(int64_t from, bool dropWarnings) {
        closeStreams();
        if (!source_->seek_to(source_->opaque, 0)) return path_ + ": cannot go back to the beginning of the input";
        seeked_ = false;
        heldFrame_ = false;
        next_ = 0;
        skipBelow_ = from;
        dropWarningsBelow_ = dropWarnings;
        draining_ = false;
        failuresInRow_ = 0;
        lastTimestamp_ = AV_NOPTS_VALUE;
        warnings_.clear();
        return openStreams();
    }

    // Why the container alone keeps the input whole, "" when its index and
    // rate allow seeking.
    std::string containerWholeReason() const {
        if (!source_->seekable) return path_ == "-" ? "standard input" : "the input is not seekable";
        const Family family = familyOf(format_->iformat);
        if (family == Family::Other) {
            const std::string name = format_->iformat->name;
            return "the container is not one lumaqc seeks in (" + name.substr(0, name.find(',')) + ")";
        }
        const AVStream* stream = format_->streams[streamIndex_];
        if (!grid_.valid()) return "the frame rate is not known";
        if (family == Family::Mp4 ? indexAtOpen_[streamIndex_] <= 0 : !matroskaCues_) return "no frame index";
        if (family == Family::Matroska && av_cmp_q(stream->r_frame_rate, stream->avg_frame_rate) != 0)
            return "variable frame rate";
        if (family == Family::Mp4) {
            // Every sample one frame after the one before: no gap, no other duration.
            const int entries = avformat_index_get_entries_count(stream);
            int64_t origin = AV_NOPTS_VALUE, expected = 0;
            for (int i = 0; i < entries; ++i) {
                const AVIndexEntry* entry = avformat_index_get_entry(const_cast<AVStream*>(stream), i);
                if (entry == nullptr || (entry->flags & AVINDEX_DISCARD_FRAME)) continue;
                if (origin == AV_NOPTS_VALUE) origin = entry->timestamp;
                int64_t index = 0;
                if (!grid_.indexOf(entry->timestamp, origin, &index) || index != expected++) return "variable frame rate";
            }
        }
        return "";
    }

    // Why the input is read whole, "" when it is cuttable; needs the first frame's timestamp.
    std::string wholeReason() const {
        if (std::string reason = containerWholeReason(); !reason.empty()) return reason;
        if (firstTimestamp_ == AV_NOPTS_VALUE) return "its frames have no timestamps";
        if (familyOf(format_->iformat) == Family::Matroska) {
            // Every cue (a key frame) on the grid of the first frame.
            AVStream* stream = format_->streams[streamIndex_];
            const int entries = avformat_index_get_entries_count(stream);
            for (int i = 0; i < entries; ++i) {
                const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
                int64_t index = 0;
                if (entry != nullptr && !grid_.indexOf(entry->timestamp, firstTimestamp_, &index))
                    return "variable frame rate";
            }
        }
        return "";
    }

    // Matroska keeps no count of frames: every packet from the beginning up
    // to frame `until` (to the end: INT64_MAX), one frame each, must fill the
    // grid without a gap. Says why not, or counts the frames of the whole file
    // (an exact length).
    std::string matroskaFrames(int64_t until) {
        if (avformat_seek_file(format_, streamIndex_, INT64_MIN, firstTimestamp_, firstTimestamp_, 0) < 0)
            return "the demuxer cannot seek in it";
        std::vector<bool> seen;
        int64_t count = 0;
        int keysAfter = 0;  // the second key frame after `until` ends its open GOP's leading pictures
        std::string reason;
        while (reason.empty() && keysAfter < 2 && av_read_frame(format_, packet_) >= 0) {
            int64_t index = 0;
            if (packet_->stream_index != streamIndex_) {
            } else if (packet_->pts == AV_NOPTS_VALUE || !grid_.indexOf(packet_->pts, firstTimestamp_, &index) ||
                       index < 0) {
                reason = "variable frame rate";
            } else if (index >= static_cast<int64_t>(seen.size()) + 4096) {  // beyond any reordering
                reason = "its timestamps skip frames";
            } else {
                if (index >= static_cast<int64_t>(seen.size())) seen.resize(static_cast<size_t>(index) + 1, false);
                if (seen[static_cast<size_t>(index)]) reason = "variable frame rate";  // two frames at one time
                seen[static_cast<size_t>(index)] = true;
                ++count;
                if (index > until && (packet_->flags & AV_PKT_FLAG_KEY)) ++keysAfter;
            }
            av_packet_unref(packet_);
        }
        if (!reason.empty()) return reason;
        if (until == INT64_MAX) {
            if (count != static_cast<int64_t>(seen.size())) return "its timestamps skip frames";
            info_.expectedFrames = count > start_ ? count - start_ : -1;
            return "";
        }
        if (static_cast<int64_t>(seen.size()) < until) return "its timestamps skip frames";
        for (int64_t k = 0; k < until; ++k)
            if (!seen[static_cast<size_t>(k)]) return "its timestamps skip frames";
        return "";
    }

    // Reaches frame start_ by seeking, once frame 0 gave the grid's origin.
    // False when the landing cannot be proved exact: the caller then decodes
    // from the beginning.
    bool seekToStart() {
        // The first frame's timestamp is the origin of every index.
        if (decodeNext() != 0) return false;
        firstTimestamp_ = frame_->best_effort_timestamp;
        if (familyOf(format_->iformat) == Family::Matroska && !matroskaFrames(start_).empty()) return false;
        return wholeReason().empty() && seekTo(start_, 0);
    }

    // Seeks to the key frame at least `margin` frames before frame `target`
    // (further back while that is not enough) and decodes up to the target,
    // leaving it in frame_ for produce(); false when the frames cannot be
    // numbered on the way.
    bool seekTo(int64_t target, int64_t margin) {
        const AVIndexEntry* first = avformat_index_get_entry(format_->streams[streamIndex_], 0);
        if (first == nullptr) return false;
        const int64_t quarter = grid_.timestampOf(1, 0) / 4;
        for (;; margin = margin == 0 ? 8 : margin * 2) {
            const int64_t from = target - margin;
            const int64_t at = from > 0 ? grid_.timestampOf(from, firstTimestamp_) + quarter : first->timestamp;
            // The seek reads Matroska's cues: each must lie on the grid.
            if (avformat_seek_file(format_, streamIndex_, INT64_MIN, at, at, 0) < 0 || !wholeReason().empty())
                return false;
            avcodec_flush_buffers(decoder_);
            draining_ = false;
            failuresInRow_ = 0;
            const int landed = decodeTo(target);
            warnings_.clear();  // of frames before the target
            if (landed == 0) return true;
            if (landed < 0 || from <= 0) return false;
        }
    }

    // After a seek: 0 when frame `target` is in frame_, 1 when it did not come
    // out of the decoder (seek further back: a leading picture of an open GOP,
    // or a frame a decoder keeps back at the end after a seek), -1 when the
    // frames cannot be numbered.
    int decodeTo(int64_t target) {
        int ret;
        while ((ret = av_read_frame(format_, packet_)) >= 0 && packet_->stream_index != streamIndex_)
            av_packet_unref(packet_);
        if (ret < 0) return 1;
        int64_t keyIndex = 0;
        const bool onGrid = packet_->pts != AV_NOPTS_VALUE && grid_.indexOf(packet_->pts, firstTimestamp_, &keyIndex);
        const bool key = packet_->flags & AV_PKT_FLAG_KEY;
        if (!onGrid || !key || keyIndex > target) {
            av_packet_unref(packet_);
            return onGrid ? 1 : -1;
        }
        landedAt_ = keyIndex;
        countFrom_ = target;
        packetsFromStart_ = 0;
        countFromStart(packet_);
        ret = avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);
        if (ret < 0) return -1;
        lastTimestamp_ = AV_NOPTS_VALUE;
        for (int64_t previous = -1;; previous = next_) {
            if (decodeNext() != 0) return 1;
            const int64_t ts = frame_->best_effort_timestamp;
            int64_t index = 0;
            if (ts == AV_NOPTS_VALUE || !grid_.indexOf(ts, firstTimestamp_, &index)) return -1;
            if (index > target && previous < 0) return 1;
            // The frames decoded follow one another on the grid, as they are counted.
            if (previous >= 0 && index != previous + 1) return -1;
            next_ = index;
            if (index < target) {
                lastTimestamp_ = index == target - 1 ? ts : AV_NOPTS_VALUE;
                continue;
            }
            if ((frame_->flags & AV_FRAME_FLAG_CORRUPT) || frame_->decode_error_flags != 0) return 1;
            next_ = target;
            heldFrame_ = true;
            seeked_ = true;
            return 0;
        }
    }

    // Frame `target` again, after frames up to it were handed out: from a key
    // frame before the last landing, else (or after a few tries) by decoding
    // from the beginning.
    std::string reseek(int64_t target) {
        if (++reseeks_ <= 4 && seekTo(target, target - landedAt_ + 1)) return {};
        return reopenLinear(target, true);
    }

    // The length the container tells: its frame count, else its duration at
    // the frame rate; counted from the first frame wanted.
    int64_t expectedFrames(const AVStream* stream) const {
        double frames = -1.0;
        if (stream->nb_frames > 0) {
            frames = static_cast<double>(stream->nb_frames);
        } else if (info_.fpsKnown && stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            frames = static_cast<double>(stream->duration) * av_q2d(stream->time_base) * info_.fps;
        } else if (info_.fpsKnown && format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
            frames = static_cast<double>(format_->duration) / AV_TIME_BASE * info_.fps;
        }
        if (!(frames >= 1.0 && frames < 1e15)) return -1;
        const int64_t whole = static_cast<int64_t>(frames + 0.5);
        return whole > start_ ? whole - start_ : -1;
    }

    // The start timecode of the video stream, of the container, or of a
    // timecode track beside them (QuickTime's tmcd); "" when none.
    std::string startTimecode(const AVStream* video) const {
        const auto of = [](const AVDictionary* metadata) -> std::string {
            const AVDictionaryEntry* entry = av_dict_get(metadata, "timecode", nullptr, 0);
            return entry != nullptr && entry->value != nullptr ? entry->value : "";
        };
        if (std::string t = of(video->metadata); !t.empty()) return t;
        if (std::string t = of(format_->metadata); !t.empty()) return t;
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            if (std::string t = of(format_->streams[i]->metadata); !t.empty()) return t;
        return "";
    }

    ReadResult produce() {
        ReadResult r;
        r.index = next_ > start_ ? next_ : start_;
        if (finished_ || (end_ >= 0 && next_ >= end_)) return finish(r, false);
        for (;;) {
            const int ret = heldFrame_ ? 0 : decodeNext();
            heldFrame_ = false;
            // After a seek a decoder may keep back a frame at the end that it
            // gives when decoding from the beginning: every packet from the
            // start must have come out as a frame.
            if (ret == AVERROR_EOF && seeked_ && next_ - countFrom_ < packetsFromStart_) {
                if (std::string error = reseek(next_); !error.empty()) return failed(r, next_, error);
                continue;
            }
            if (ret == AVERROR_EOF) return finish(r, true);
            const int64_t index = next_++;
            // After a seek the frames must keep to the grid, one after the other.
            int64_t onGrid = -1;
            if (seeked_ && (frame_->best_effort_timestamp == AV_NOPTS_VALUE ||
                            !grid_.indexOf(frame_->best_effort_timestamp, firstTimestamp_, &onGrid) ||
                            onGrid != index)) {
                if (std::string error = reseek(index); !error.empty()) return failed(r, index, error);
                continue;
            }
            if (index == 0) firstTimestamp_ = frame_->best_effort_timestamp;
            if (!sizeKnown_) {
                sizeKnown_ = true;
                info_.width = frame_->width;
                info_.height = frame_->height;
            }
            if (frame_->width != info_.width || frame_->height != info_.height) {
                finished_ = true;
                r.status = ReadStatus::Error;
                r.index = index;
                r.message = "Frame " + std::to_string(index) + " of " + path_ +
                            " changes the picture size from " + std::to_string(info_.width) + " x " +
                            std::to_string(info_.height) + " to " + std::to_string(frame_->width) + " x " +
                            std::to_string(frame_->height);
                return takeWarnings(r);
            }
            if (((frame_->flags & AV_FRAME_FLAG_CORRUPT) || frame_->decode_error_flags != 0) && seeked_) {
                // Damage after a seek may be the seek's: decode from further back.
                if (std::string error = reseek(index); !error.empty()) return failed(r, index, error);
                continue;
            }
            if ((frame_->flags & AV_FRAME_FLAG_CORRUPT) || frame_->decode_error_flags != 0)
                warnings_.push_back("Frame " + std::to_string(index) + " was decoded with errors");
            // Packets lost before the decoder (a damaged container) show as a
            // jump of the timestamps by more than one and a half frames.
            const int64_t ts = frame_->best_effort_timestamp;
            if (ts != AV_NOPTS_VALUE && lastTimestamp_ != AV_NOPTS_VALUE && frameSeconds_ > 0) {
                const double from = static_cast<double>(lastTimestamp_) * av_q2d(timeBase_);
                const double to = static_cast<double>(ts) * av_q2d(timeBase_);
                if (to - from > 1.5 * frameSeconds_)
                    warnings_.push_back("Frames are missing before frame " + std::to_string(index) +
                                        ": the timestamps jump from " + std::to_string(from) + " s to " +
                                        std::to_string(to) + " s");
            }
            if (ts != AV_NOPTS_VALUE) lastTimestamp_ = ts;
            if (index < skipBelow_) {
                if (dropWarningsBelow_) warnings_.clear();
                continue;
            }
            r.index = index;
            if (!lumaOf(frame_, &r.luma)) {
                const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame_->format));
                finished_ = true;
                r.status = ReadStatus::Error;
                r.message = "Frame " + std::to_string(index) + " of " + path_ +
                            " cannot be converted to grey from " +
                            (name != nullptr ? name : "an unknown format");
                return takeWarnings(r);
            }
            r.status = ReadStatus::Frame;
            r.decoded = frame_;
            r.ptsTime = ts != AV_NOPTS_VALUE ? static_cast<double>(ts) * av_q2d(timeBase_)
                        : info_.fps > 0      ? static_cast<double>(index) / info_.fps
                                             : 0.0;
            return takeWarnings(r);
        }
    }

    // Counts, after a seek, the packets of frames from the start on.
    void countFromStart(const AVPacket* packet) {
        int64_t index = 0;
        if (firstTimestamp_ != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
            grid_.indexOf(packet->pts, firstTimestamp_, &index) && index >= countFrom_)
            ++packetsFromStart_;
    }

    // The next decoded frame in frame_ (0), or AVERROR_EOF once none is left.
    int decodeNext() {
        av_frame_unref(frame_);
        for (;;) {
            int ret = avcodec_receive_frame(decoder_, frame_);
            if (ret == 0) return 0;
            if (ret == AVERROR_EOF) return ret;
            if (ret != AVERROR(EAGAIN)) {
                warnings_.push_back("A frame before frame " + std::to_string(next_) + " could not be decoded (" +
                                    avErrorText(ret) + ")");
                if (++failuresInRow_ > 1000 || draining_) return AVERROR_EOF;
                continue;
            }
            if (draining_) return AVERROR_EOF;
            ret = av_read_frame(format_, packet_);
            if (ret < 0) {
                if (ret != AVERROR_EOF)
                    warnings_.push_back("Reading stopped before frame " + std::to_string(next_) + " (" +
                                        avErrorText(ret) + ")");
                draining_ = true;
                avcodec_send_packet(decoder_, nullptr);
                continue;
            }
            if (packet_->stream_index == streamIndex_) {
                countFromStart(packet_);
                ret = avcodec_send_packet(decoder_, packet_);
                if (ret < 0 && ret != AVERROR(EAGAIN))
                    warnings_.push_back("A damaged packet before frame " + std::to_string(next_) +
                                        " could not be decoded (" + avErrorText(ret) + ")");
                else
                    failuresInRow_ = 0;
            }
            av_packet_unref(packet_);
        }
    }

    // The 8-bit luma plane of a frame: the decoder's own when it is one.
    bool lumaOf(const AVFrame* frame, Plane* plane) {
        const int w = frame->width, h = frame->height;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
        if (desc == nullptr) return false;
        const AVComponentDescriptor& y = desc->comp[0];
        const bool lumaFirst =
            !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                             AV_PIX_FMT_FLAG_HWACCEL)) &&
            y.plane == 0 && y.offset == 0;
        if (lumaFirst && y.depth == 8 && y.step == 1 && y.shift == 0 && frame->linesize[0] >= w) {
            *plane = Plane{frame->data[0], frame->linesize[0], w, h};
            return true;
        }
        converted_.resize(static_cast<size_t>(w) * h);
        if (lumaFirst && y.depth > 8 && y.step == 2 && y.shift + y.depth <= 16) {
            const bool bigEndian = desc->flags & AV_PIX_FMT_FLAG_BE;
            for (int row = 0; row < h; ++row) {
                const uint8_t* in = frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0];
                uint8_t* out = converted_.data() + static_cast<size_t>(row) * w;
                for (int x = 0; x < w; ++x) {
                    const uint32_t v = bigEndian ? (uint32_t{in[2 * x]} << 8) | in[2 * x + 1]
                                                 : (uint32_t{in[2 * x + 1]} << 8) | in[2 * x];
                    out[x] = reduceSample(v >> y.shift, y.depth);
                }
            }
        } else {
            sws_ = sws_getCachedContext(sws_, w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                        AV_PIX_FMT_GRAY8, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (sws_ == nullptr) return false;
            uint8_t* to[4] = {converted_.data(), nullptr, nullptr, nullptr};
            int toStride[4] = {w, 0, 0, 0};
            if (sws_scale(sws_, frame->data, frame->linesize, 0, h, to, toStride) != h) return false;
        }
        *plane = Plane{converted_.data(), w, w, h};
        return true;
    }

    ReadResult failed(ReadResult& r, int64_t index, const std::string& message) {
        finished_ = true;
        r.status = ReadStatus::Error;
        r.index = index;
        r.message = message;
        return takeWarnings(r);
    }

    // No frame left: End when every frame was wanted, else the count fell short.
    ReadResult finish(ReadResult& r, bool early) {
        finished_ = true;
        if (early && end_ >= 0) r.status = ReadStatus::ShortFrame;
        return takeWarnings(r);
    }

    ReadResult takeWarnings(ReadResult& r) {
        r.warnings = std::move(warnings_);
        warnings_.clear();
        return std::move(r);
    }

    const lumaqc_libav_source* source_;
    const std::string path_;
    const int64_t start_;
    const lumaqc_libav_request request_;
    int64_t end_ = -1;
    int64_t next_ = 0;  // presentation index of the next decoded frame
    int64_t skipBelow_ = start_;  // frames decoded but not handed out
    bool dropWarningsBelow_ = false;
    FrameGrid grid_;
    std::vector<int> indexAtOpen_;  // index entries of each stream after the header
    bool headChecked_ = false;
    bool matroskaCues_ = false;  // a SeekHead names the cues
    int64_t firstTimestamp_ = AV_NOPTS_VALUE;  // of frame 0, the origin of the grid
    bool heldFrame_ = false;  // frame_ holds the start, decoded while seeking
    bool seeked_ = false;     // the start was reached by seeking
    int64_t packetsFromStart_ = 0;  // after a seek: packets of frames from countFrom_ on
    int64_t countFrom_ = 0;         // the frame the last seek decoded to
    int64_t landedAt_ = 0;          // the key frame the last seek landed on
    int reseeks_ = 0;
    StreamInfo info_;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwsContext* sws_ = nullptr;
    int streamIndex_ = -1;
    AVRational timeBase_{1, 1};
    bool draining_ = false;
    bool finished_ = false;
    bool sizeKnown_ = false;
    int failuresInRow_ = 0;
    int64_t lastTimestamp_ = AV_NOPTS_VALUE;
    double frameSeconds_ = 0;  // from the container's average rate, 0 unknown
    std::vector<uint8_t> converted_;
    std::vector<std::string> warnings_;
    ReadResult pending_;
    bool hasPending_ = false;
};


// The reader behind the table: the last result stays here, for the pointers
// handed out, until the next call.
struct Handle {
    Handle(const lumaqc_libav_source* source, const lumaqc_libav_request& request) : reader(source, request) {}
    LibavReader reader;
    std::string openError;
    ReadResult last;
    std::vector<const char*> warnings;
};

Handle* handleOf(lumaqc_libav_reader* reader) { return reinterpret_cast<Handle*>(reader); }
const Handle* handleOf(const lumaqc_libav_reader* reader) { return reinterpret_cast<const Handle*>(reader); }

lumaqc_libav_reader* openDecoder(const lumaqc_libav_source* source, const lumaqc_libav_request* request) {
    // The library never prints: FFmpeg's own messages are silenced.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    try {
        auto handle = std::make_unique<Handle>(source, *request);
        handle->openError = handle->reader.open();
        return reinterpret_cast<lumaqc_libav_reader*>(handle.release());
    } catch (...) {
        return nullptr;
    }
}

const char* openError(const lumaqc_libav_reader* reader) { return handleOf(reader)->openError.c_str(); }

void infoOf(const lumaqc_libav_reader* reader, lumaqc_libav_info* info) {
    const StreamInfo& i = handleOf(reader)->reader.info();
    *info = lumaqc_libav_info{i.width,          i.height,
                              i.fps,            i.fpsKnown ? 1 : 0,
                              i.expectedFrames, i.startTimecode.c_str(),
                              i.cuttable ? 1 : 0, i.wholeReason.c_str()};
}

void nextFrame(lumaqc_libav_reader* reader, lumaqc_libav_frame* frame) {
    Handle* handle = handleOf(reader);
    try {
        handle->last = handle->reader.next();
        handle->warnings.clear();
        for (const std::string& w : handle->last.warnings) handle->warnings.push_back(w.c_str());
    } catch (...) {
        handle->last = ReadResult{};
        handle->last.status = ReadStatus::Error;
        handle->warnings.clear();
    }
    const ReadResult& r = handle->last;
    const bool outOfMemory = r.status == ReadStatus::Error && r.message.empty();
    *frame = lumaqc_libav_frame{static_cast<int>(r.status),
                                r.luma.data,
                                r.luma.stride,
                                r.luma.width,
                                r.luma.height,
                                r.index,
                                r.ptsTime,
                                outOfMemory ? "Cannot allocate memory while decoding" : r.message.c_str(),
                                handle->warnings.data(),
                                handle->warnings.size(),
                                r.status == ReadStatus::Frame ? r.decoded : nullptr};
}

void closeDecoder(lumaqc_libav_reader* reader) { delete handleOf(reader); }

void quietLibraries() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
}

int scaleGray(const uint8_t* from, ptrdiff_t fromStride, int32_t width, int32_t height, uint8_t* to, ptrdiff_t toStride,
              int32_t toWidth, int32_t toHeight) {
    quietLibraries();
    if (width < 1 || height < 1 || toWidth < 1 || toHeight < 1) return 0;
    // One context per thread, kept while the sizes stay.
    thread_local SwsContext* context = nullptr;
    context = sws_getCachedContext(context, width, height, AV_PIX_FMT_GRAY8, toWidth, toHeight, AV_PIX_FMT_GRAY8,
                                   SWS_AREA, nullptr, nullptr, nullptr);
    if (context == nullptr) return 0;
    const uint8_t* const in[4] = {from, nullptr, nullptr, nullptr};
    const int inStride[4] = {static_cast<int>(fromStride), 0, 0, 0};
    uint8_t* const out[4] = {to, nullptr, nullptr, nullptr};
    const int outStride[4] = {static_cast<int>(toStride), 0, 0, 0};
    return sws_scale(context, in, inStride, 0, height, out, outStride) == toHeight ? 1 : 0;
}

int scalePicture(const void* picture, int32_t toWidth, int32_t toHeight, uint8_t* to) {
    quietLibraries();
    const AVFrame* frame = static_cast<const AVFrame*>(picture);
    if (frame == nullptr || toWidth < 1 || toHeight < 1) return 0;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    // Grey pictures (one or two components) have no colour to show.
    if (desc == nullptr || desc->nb_components < 3 || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return 0;
    thread_local SwsContext* context = nullptr;
    context = sws_getCachedContext(context, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   toWidth, toHeight, AV_PIX_FMT_YUVJ420P, SWS_AREA, nullptr, nullptr, nullptr);
    if (context == nullptr) return 0;
    const int chromaWidth = (toWidth + 1) / 2, chromaHeight = (toHeight + 1) / 2;
    uint8_t* const out[4] = {to, to + static_cast<ptrdiff_t>(toWidth) * toHeight,
                             to + static_cast<ptrdiff_t>(toWidth) * toHeight + chromaWidth * chromaHeight, nullptr};
    const int outStride[4] = {toWidth, chromaWidth, chromaWidth, 0};
    return sws_scale(context, frame->data, frame->linesize, 0, frame->height, out, outStride) == toHeight ? 1 : 0;
}

// Luma codes without chroma become the JPEG's full-range luma as they are, so
// that the picture shows the values measured.
int encodeJpeg(const uint8_t* luma, ptrdiff_t stride, const uint8_t* cb, const uint8_t* cr, ptrdiff_t chromaStride,
               int32_t width, int32_t height, uint8_t** bytes, size_t* size) {
    quietLibraries();
    *bytes = nullptr;
    *size = 0;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr || width < 1 || height < 1) return 0;
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(avcodec_alloc_context3(codec),
                                                                      [](AVCodecContext* c) { avcodec_free_context(&c); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
    if (!context || !frame || !packet) return 0;
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUVJ420P;
    context->color_range = AVCOL_RANGE_JPEG;
    context->time_base = AVRational{1, 25};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return 0;
    frame->format = AV_PIX_FMT_YUVJ420P;
    frame->width = width;
    frame->height = height;
    frame->quality = FF_QP2LAMBDA * 3;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return 0;
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0], luma + y * stride,
                    static_cast<size_t>(width));
    for (int plane = 1; plane < 3; ++plane) {
        const uint8_t* from = plane == 1 ? cb : cr;
        for (int32_t y = 0; y < (height + 1) / 2; ++y) {
            uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
            if (from != nullptr)
                std::memcpy(row, from + y * chromaStride, static_cast<size_t>((width + 1) / 2));
            else
                std::memset(row, 128, static_cast<size_t>((width + 1) / 2));
        }
    }
    if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_send_frame(context.get(), nullptr) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0)
        return 0;
    *bytes = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(packet->size)));
    if (*bytes == nullptr) return 0;
    std::memcpy(*bytes, packet->data, static_cast<size_t>(packet->size));
    *size = static_cast<size_t>(packet->size);
    return 1;
}

void freeBytes(uint8_t* bytes) { std::free(bytes); }

constexpr lumaqc_libav_table kTable = {LUMAQC_LIBAV_VERSION, openDecoder, openError,  infoOf,    nextFrame,
                                       closeDecoder,         scaleGray,   scalePicture, encodeJpeg, freeBytes};

}  // namespace
}  // namespace lumaqc::io

extern "C" __attribute__((visibility("default"))) const lumaqc_libav_table* lumaqc_libav_entry(void) {
    return &lumaqc::io::kTable;
}
