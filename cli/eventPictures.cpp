#include "eventPictures.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "io/pictures.hpp"

namespace lumaqc {

EventPictures::EventPictures(int32_t width, int32_t height) {
    if (width < 1 || height < 1) {
        why_ = "no pictures: the frames have no size";
        return;
    }
    std::string reason;
    if (!io::picturesAvailable(&reason)) {
        why_ = "No pictures of the events: " + reason;
        return;
    }
    // Within kWidth x kWidth, never enlarged: a portrait picture stays small too.
    const double scale = std::min({1.0, static_cast<double>(kWidth) / width, static_cast<double>(kWidth) / height});
    width_ = std::max<int32_t>(1, static_cast<int32_t>(std::lround(width * scale)));
    height_ = std::max<int32_t>(1, static_cast<int32_t>(std::lround(height * scale)));
    size_ = io::pictureBytes(width_, height_);
    ring_.assign(size_ * kRingFrames, 0);
    ringFrames_.assign(kRingFrames, -1);
    ringColour_.assign(kRingFrames, false);
}

void EventPictures::picture(int64_t frame, const io::ReadResult& read) {
    if (!why_.empty() || frame < 0) return;
    const size_t slot = static_cast<size_t>(frame % kRingFrames);
    uint8_t* to = ring_.data() + slot * size_;
    ringColour_[slot] = io::scaleColour(read, width_, height_, to);
    ringFrames_[slot] = ringColour_[slot] || io::scaleLuma(read.luma, width_, height_, to) ? frame : -1;
    newest_ = std::max(newest_, frame);
}

const uint8_t* EventPictures::kept(int64_t frame, bool* colour) const {
    if (frame < 0) return nullptr;
    const size_t slot = static_cast<size_t>(frame % kRingFrames);
    if (ringFrames_[slot] == frame) {
        *colour = ringColour_[slot];
        return ring_.data() + slot * size_;
    }
    const auto pinned = pinned_.find(frame);
    if (pinned == pinned_.end()) return nullptr;
    *colour = pinned->second.second;
    return pinned->second.first.data();
}

// The frame itself, else the kept frame nearest to it in the ring.
const uint8_t* EventPictures::nearest(int64_t frame, int64_t* found, bool* colour) const {
    const int64_t oldest = std::max<int64_t>(0, newest_ - kRingFrames + 1);
    for (int64_t f : {frame, std::clamp(frame, oldest, std::max(oldest, newest_))})
        if (const uint8_t* p = kept(f, colour)) {
            *found = f;
            return p;
        }
    return nullptr;
}

report::html::Thumbnail EventPictures::encode(int64_t frame) const {
    report::html::Thumbnail t;
    int64_t found = -1;
    bool colour = false;
    if (const uint8_t* p = nearest(frame, &found, &colour)) {
        t.frame = found;
        t.jpeg = io::jpegOfPicture(p, colour, width_, height_);
        t.width = width_;
        t.height = height_;
    }
    return t;
}

void EventPictures::afterRow(const report::Session& session) {
    if (!why_.empty()) return;
    firsts_.clear();
    session.detector().openFirstFrames(firsts_);
    for (int64_t first : firsts_)
        if (bool colour = false; pinned_.count(first) == 0)
            if (const uint8_t* p = kept(first, &colour))
                pinned_.emplace(first, std::make_pair(std::vector<uint8_t>(p, p + size_), colour));
    const std::vector<report::Segment>& closed = session.segments();
    for (; handled_ < closed.size(); ++handled_) {
        const report::Segment& s = closed[handled_];
        if (made_.size() >= kMaxEvents) continue;
        std::vector<report::html::Thumbnail> pictures;
        for (int64_t frame : {s.firstFrame, s.firstFrame + (s.lastFrame - s.firstFrame) / 2, s.lastFrame}) {
            report::html::Thumbnail t = encode(frame);
            if (t.jpeg.empty()) break;
            pictures.push_back(std::move(t));
        }
        if (pictures.size() == 3) made_[{static_cast<int>(s.kind), s.firstFrame}] = std::move(pictures);
    }
    // A first frame no open segment starts at is no longer needed.
    for (auto it = pinned_.begin(); it != pinned_.end();)
        it = std::find(firsts_.begin(), firsts_.end(), it->first) == firsts_.end() ? pinned_.erase(it) : std::next(it);
}

std::vector<report::html::Thumbnail> EventPictures::of(report::SegmentKind kind, int64_t firstFrame) const {
    const auto it = made_.find({static_cast<int>(kind), firstFrame});
    return it == made_.end() ? std::vector<report::html::Thumbnail>{} : it->second;
}

}  // namespace lumaqc
