// The pictures of the review page: a small copy of every frame as it is read
// (in colour where the decoder has it, else its luma), in a ring of the last
// kRingFrames, and the first frames of open segments
// kept until they close; when a segment closes, its first, middle and last
// frame become JPEGs. Works the same for files and pipes (nothing is read
// twice). An event longer than twice the ring shows, for its middle, the
// oldest frame still kept (the nearest to its middle).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "io/reader.hpp"
#include "report/session.hpp"
#include "report/summaryTypes.hpp"

namespace lumaqc {

class EventPictures {
public:
    static constexpr int64_t kRingFrames = 750;   // 15 s at 50 fps, 16.2 MB at 160 x 90
    static constexpr size_t kMaxEvents = 100;     // events with pictures: about 2 MB of the page
    static constexpr int32_t kWidth = 160;        // the pictures fit in kWidth x kWidth

    // For pictures of width x height; unavailable() says why none can be made.
    EventPictures(int32_t width, int32_t height);
    const std::string& unavailable() const { return why_; }

    void picture(int64_t frame, const io::ReadResult& read);
    // After each row: keeps the first frames of the open segments, and makes
    // the pictures of those that closed.
    void afterRow(const report::Session& session);
    // After the session finished: the segments closed at the end.
    void finish(const report::Session& session) { afterRow(session); }

    // The pictures of the segment of this kind starting at firstFrame, empty when none.
    std::vector<report::html::Thumbnail> of(report::SegmentKind kind, int64_t firstFrame) const;
    // Size of the small copies.
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    // A kept copy: its bytes (pictureBytes) and whether it has colour; null when not kept.
    const uint8_t* kept(int64_t frame, bool* colour) const;
    const uint8_t* nearest(int64_t frame, int64_t* found, bool* colour) const;
    report::html::Thumbnail encode(int64_t frame) const;

    std::string why_;
    int32_t width_ = 0, height_ = 0;
    size_t size_ = 0;
    std::vector<uint8_t> ring_;
    std::vector<int64_t> ringFrames_;  // the frame held in each slot, -1 none
    std::vector<bool> ringColour_;     // whether that copy has colour
    int64_t newest_ = -1;
    std::map<int64_t, std::pair<std::vector<uint8_t>, bool>> pinned_;  // first frames of open segments
    size_t handled_ = 0;                              // segments of the session already seen
    std::map<std::pair<int, int64_t>, std::vector<report::html::Thumbnail>> made_;
    std::vector<int64_t> firsts_;
};

}  // namespace lumaqc
