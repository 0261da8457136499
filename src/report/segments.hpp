// Stretches of frames worth reporting: black, frozen, letterboxed,
// pillarboxed and interlaced pictures.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/frameRows.hpp"

namespace lumaqc::report {

enum class SegmentKind { Black, Freeze, Letterbox, Pillarbox, Interlaced };
inline constexpr size_t kSegmentKindCount = 5;

// "black", "freeze", "letterbox", "pillarbox", "interlaced": the prefix of the
// time keys and the name in gates.
const char* segmentKindName(SegmentKind kind);
std::optional<SegmentKind> segmentKindFromName(const std::string& name);

struct SegmentOptions {
    // Shortest segment reported, in seconds, per kind (SegmentKind order). A
    // segment is kept when its frames reach fps x minimum; a freeze counts its
    // repeated frames, as the freezing indicator does, so the default tenth of
    // a second reports a freeze exactly when the freezing flag rises in it.
    std::array<double, kSegmentKindCount> minimumSeconds{0.0, 0.1, 0.0, 0.0, 0.0};
    // A frame counts as interlaced when its interlace value exceeds this.
    double interlaceThreshold = 0.1;
};

// One segment: its first and last frame (absolute indexes) and its times in
// seconds; end is the time of the frame after the last one. The duration is
// end - start where a presentation time is involved, else frames / fps.
struct Segment {
    SegmentKind kind = SegmentKind::Black;
    int64_t firstFrame = 0;
    int64_t lastFrame = 0;
    double start = 0.0;
    double end = 0.0;
    double duration = 0.0;
};

// Per kind: how many segments, their frames, total and longest duration.
struct SegmentSummary {
    int64_t count = 0;
    int64_t frames = 0;
    double total = 0.0;
    double longest = 0.0;
};

inline constexpr const char* kSegmentStatNames[] = {"count", "frames", "total", "longest"};
double segmentStatValue(const SegmentSummary& summary, size_t statIndex);

// The time of a row: its pts_time when known (finite), else frame / fps.
double rowTime(const FrameRow& row, double fps);

// Finds the segments of a run of rows, fed one at a time in frame order.
class SegmentDetector {
public:
    SegmentDetector(const SegmentOptions& options, double fps);

    // Segments closed by this row are appended to closed (in kind order).
    void add(const FrameRow& row, std::vector<Segment>& closed);
    // Closes the segments still open at the end of the rows: they end at the
    // end of their last frame (its time + 1 / fps).
    void finish(std::vector<Segment>& closed);

private:
    struct Open {
        bool active = false;
        int64_t firstFrame = 0;
        double start = 0.0;
        bool startFromPts = false;
        int64_t frames = 0;   // frames in the segment
        int64_t counted = 0;  // frames counted against the minimum
    };
    void close(SegmentKind kind, const FrameRow* next, std::vector<Segment>& closed);

    SegmentOptions options_;
    double fps_;
    std::array<Open, kSegmentKindCount> open_{};
    bool havePrevious_ = false;
    FrameRow previous_{};
};

std::array<SegmentSummary, kSegmentKindCount> summarise(const std::vector<Segment>& segments);

// The line of one segment (without newline), e.g.
// "black_start: 0.8 black_end: 0.92 black_duration: 0.12 first_frame: 20 last_frame: 22"
std::string segmentLine(const Segment& segment);

// [{"type": "black", "first_frame": 20, "last_frame": 22, "black_start": 0.8, ...}, ...]
std::string segmentsJson(const std::vector<Segment>& segments);

// {"black": {"count": 1, "frames": 3, "total": 0.12, "longest": 0.12}, ...}
std::string segmentSummaryJson(const std::array<SegmentSummary, kSegmentKindCount>& summary);

// Console text: one line per kind with its summary, then the segment lines.
std::string segmentsText(const std::vector<Segment>& segments);

}  // namespace lumaqc::report
