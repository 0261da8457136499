// Stretches of frames worth reporting: black, frozen, letterboxed,
// pillarboxed, interlaced and flat pictures, and pictures out of the legal
// range.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/frameRows.hpp"

namespace lumaqc::report {

enum class SegmentKind { Black, Freeze, Letterbox, Pillarbox, Interlaced, OutOfRange, Flat, Flash };
inline constexpr size_t kSegmentKindCount = 8;

// "black", "freeze", "letterbox", "pillarbox", "interlaced", "out_of_range",
// "flat", "flash": the prefix of the time keys and the name in gates.
const char* segmentKindName(SegmentKind kind);
std::optional<SegmentKind> segmentKindFromName(const std::string& name);

struct SegmentOptions {
    // Shortest segment reported, in seconds, per kind (SegmentKind order). A
    // segment is kept when its frames reach fps x minimum; a freeze counts its
    // repeated frames, as the freezing indicator does, so the default tenth of
    // a second reports a freeze exactly when the freezing flag rises in it.
    std::array<double, kSegmentKindCount> minimumSeconds{0.0, 0.1, 0.0, 0.0, 0.1, 0.0, 0.08, 0.0};
    // A frame counts as interlaced when its combing value exceeds this.
    double interlaceThreshold = 0.0006;
    // Bars thinner than this many pixels are none: a frame is letterboxed
    // when its top or bottom bar, pillarboxed when its left or right bar
    // reaches it.
    double minimumBar = 4.0;
    // A bar that differs by more than this many pixels from the first frame
    // of its segment starts a segment of its own.
    double barChange = 8.0;
    // An interlaced segment's field order: "tff" when the mean field_order of
    // its frames exceeds this, "bff" below its negative, else "unknown".
    double fieldOrderThreshold = 0.03;
    // The legal range of luma codes, as named to --range, and the share of a
    // picture's samples outside it above which the picture is out of range
    // (EBU R 103's area tolerance).
    std::string rangeName = "r103";
    int rangeLow = LUMAQC_RANGE_LOW;
    int rangeHigh = LUMAQC_RANGE_HIGH;
    double rangeArea = 0.01;
    // A picture is black when its brightest 8 x 8 block mean (brightest_block)
    // is at or below this grey level.
    double blackLevel = 32.0;
    // A picture repeats the one before when no 8 x 8 block's mean changed by
    // more than this many grey levels (block_difference).
    double freezeNoise = 3.5;
};

enum class FieldOrder { Unknown, TopFirst, BottomFirst };
// "unknown", "tff", "bff".
const char* fieldOrderName(FieldOrder order);

// One setting of the segments, a number of 0 or more: its command-line
// option, its key in the JSON settings (and the Python keyword), and its
// place in SegmentOptions.
struct SegmentSetting {
    const char* option;
    const char* key;
    double& (*field)(SegmentOptions&);
};

// Every setting, in the order of the JSON settings.
const std::vector<SegmentSetting>& segmentSettings();
// The setting of that option ("--min-black") or key ("min_black"), or null.
const SegmentSetting* segmentSettingOfOption(const std::string& option);
const SegmentSetting* segmentSettingOfKey(const std::string& key);

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
    // The frame rate its times were measured at (0: unknown), for the
    // precision its duration is printed with.
    double fps = 0.0;
    // Letterbox and pillarbox: the thinnest bar per side over the segment's
    // frames (0 for a side thinner than the minimum bar), in pixels, and the
    // picture's size, for the crop.
    std::array<double, 4> bars{};  // top, bottom, left, right
    int64_t width = 0;
    int64_t height = 0;
    // Interlaced: which field comes first.
    FieldOrder fieldOrder = FieldOrder::Unknown;
    // Out of range: the frame with the most samples outside the range (the
    // first of equals) and its fractions below and above it.
    int64_t worstFrame = -1;
    double worstBelow = 0.0;
    double worstAbove = 0.0;
    // Flash: the frame whose one-second window holds the most flashes (the
    // first of equals) and that count.
    int64_t peakFrame = -1;
    double peakRate = 0.0;
};

// What the flash screening is and is not, as every report states it.
const char* flashScreeningText();

// A letterbox or pillarbox segment's picture inside its bars, as FFmpeg's
// cropdetect writes it: "w:h:x:y".
std::string cropText(const Segment& segment);

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
    // width and height: the pictures' size, for the crop of bar segments.
    SegmentDetector(const SegmentOptions& options, double fps, int64_t width = 0, int64_t height = 0);

    // Segments closed by this row are appended to closed (in kind order).
    void add(const FrameRow& row, std::vector<Segment>& closed);
    // Closes the segments still open at the end of the rows: they end at the
    // end of their last frame (its time + 1 / fps).
    void finish(std::vector<Segment>& closed);
    // The first frames of the segments still open (for pictures kept until they close).
    void openFirstFrames(std::vector<int64_t>& firsts) const {
        for (const Open& o : open_)
            if (o.active) firsts.push_back(o.firstFrame);
    }

private:
    struct Open {
        bool active = false;
        int64_t firstFrame = 0;
        double start = 0.0;
        bool startFromPts = false;
        int64_t frames = 0;   // frames in the segment
        int64_t counted = 0;  // frames counted against the minimum
        std::array<double, 4> firstBars{};  // bars of the first frame (letterbox, pillarbox)
        std::array<double, 4> bars{};       // thinnest per side so far
        double fieldOrderSum = 0.0;         // interlaced: field_order added up ...
        int64_t fieldOrderFrames = 0;       // ... over the frames that have one
        int64_t worstFrame = -1;
        double worstBelow = 0.0;
        double worstAbove = 0.0;
        int64_t peakFrame = -1;
        double peakRate = 0.0;
    };
    void close(SegmentKind kind, const FrameRow* next, std::vector<Segment>& closed);

    SegmentOptions options_;
    double fps_;
    int64_t width_;
    int64_t height_;
    std::array<Open, kSegmentKindCount> open_{};
    bool havePrevious_ = false;
    FrameRow previous_{};
};

std::array<SegmentSummary, kSegmentKindCount> summarise(const std::vector<Segment>& segments);

// An event marked as intended: segments of its kind whose frames lie within
// first..last (absolute frame numbers) trip no gate.
struct Waiver {
    SegmentKind kind = SegmentKind::Black;
    int64_t first = 0;
    int64_t last = 0;
};
bool isWaived(const Segment& segment, const std::vector<Waiver>& waivers);

// Whether a segment starts within the first edge seconds of a run that spans
// runStart..runEnd seconds, or ends within its last ones (a fade at either end).
bool atRunEdge(const Segment& segment, double edge, double runStart, double runEnd);

// A duration as the event lines print it: rounded to the precision the frame
// rate can express (a thousandth of a frame, in decimals: 5 at 25 fps), so that
// 0.92 - 0.84 prints as 0.08; unrounded when fps is unknown.
std::string durationText(double duration, double fps);

// The line of one segment (without newline), e.g.
// "black_start: 0.8 black_end: 0.92 black_duration: 0.12 first_frame: 20 last_frame: 22"; bar
// segments add " top: 36 bottom: 36 left: 0 right: 0 crop: 352:216:0:36", interlaced ones
// " field_order: tff", flash ones " peak_frame: 40 peak_flashes_per_second: 4".
// Flash segments are the frames whose one-second window holds more flashes
// than the screening allows (flashes_per_second > LUMAQC_FLASH_MAX_RATE).
std::string segmentLine(const Segment& segment);

// [{"type": "black", "first_frame": 20, "last_frame": 22, "black_start": 0.8, ...}, ...]
std::string segmentsJson(const std::vector<Segment>& segments);

// {"black": {"count": 1, "frames": 3, "total": 0.12, "longest": 0.12}, ...}
std::string segmentSummaryJson(const std::array<SegmentSummary, kSegmentKindCount>& summary);

// Console text: one line per kind with its summary, then the segment lines.
std::string segmentsText(const std::vector<Segment>& segments);

}  // namespace lumaqc::report
