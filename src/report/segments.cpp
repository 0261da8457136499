#include "report/segments.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "report/numbers.hpp"

namespace lumaqc::report {

static const char* const kKindNames[kSegmentKindCount] = {"black",     "freeze",     "letterbox",
                                                          "pillarbox", "interlaced", "out_of_range",
                                                          "flat",      "flash"};

const char* segmentKindName(SegmentKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

std::optional<SegmentKind> segmentKindFromName(const std::string& name) {
    for (size_t k = 0; k < kSegmentKindCount; ++k)
        if (name == kKindNames[k]) return static_cast<SegmentKind>(k);
    return std::nullopt;
}

const char* fieldOrderName(FieldOrder order) {
    switch (order) {
        case FieldOrder::TopFirst: return "tff";
        case FieldOrder::BottomFirst: return "bff";
        default: return "unknown";
    }
}

const char* flashScreeningText() {
    return "a screening after the general flash rule of ITU-R BT.1702 and the UK broadcast guidance (Ofcom), "
           "not a certification: luma on a BT.1886 display of 200 cd/m2 at code 235, transitions of 20 cd/m2 "
           "or more with the darker state below 160 cd/m2 over more than a quarter of the screen, more than 3 "
           "flashes in any second fail; saturated red flashes need colour and are not screened";
}

static bool isBarKind(SegmentKind kind) { return kind == SegmentKind::Letterbox || kind == SegmentKind::Pillarbox; }

std::string cropText(const Segment& s) {
    // Bars are whole numbers of pixels no larger than the picture; values read
    // from elsewhere (a merged report) are held to that, and a picture whose
    // bars overlap is 0 wide or high.
    const auto whole = [](double v, int64_t limit) -> int64_t {
        if (!(v > 0.0) || limit <= 0) return 0;  // NaN, negative or no picture
        return v >= static_cast<double>(limit) ? limit : static_cast<int64_t>(v);
    };
    const int64_t top = whole(s.bars[0], s.height), bottom = whole(s.bars[1], s.height);
    const int64_t left = whole(s.bars[2], s.width), right = whole(s.bars[3], s.width);
    const int64_t w = s.width > left + right ? s.width - left - right : 0;
    const int64_t h = s.height > top + bottom ? s.height - top - bottom : 0;
    return std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(left) + ":" + std::to_string(top);
}

const std::vector<SegmentSetting>& segmentSettings() {
    using O = SegmentOptions;
    static const std::vector<SegmentSetting> settings = {
        {"--min-black", "min_black", [](O& o) -> double& { return o.minimumSeconds[0]; }},
        {"--min-freeze", "min_freeze", [](O& o) -> double& { return o.minimumSeconds[1]; }},
        {"--min-letterbox", "min_letterbox", [](O& o) -> double& { return o.minimumSeconds[2]; }},
        {"--min-pillarbox", "min_pillarbox", [](O& o) -> double& { return o.minimumSeconds[3]; }},
        {"--min-interlaced", "min_interlaced", [](O& o) -> double& { return o.minimumSeconds[4]; }},
        {"--min-out-of-range", "min_out_of_range", [](O& o) -> double& { return o.minimumSeconds[5]; }},
        {"--min-flat", "min_flat", [](O& o) -> double& { return o.minimumSeconds[6]; }},
        {"--min-flash", "min_flash", [](O& o) -> double& { return o.minimumSeconds[7]; }},
        {"--interlace-threshold", "interlace_threshold", [](O& o) -> double& { return o.interlaceThreshold; }},
        {"--field-order-threshold", "field_order_threshold", [](O& o) -> double& { return o.fieldOrderThreshold; }},
        {"--min-bar", "min_bar", [](O& o) -> double& { return o.minimumBar; }},
        {"--bar-change", "bar_change", [](O& o) -> double& { return o.barChange; }},
        {"--black-level", "black_level", [](O& o) -> double& { return o.blackLevel; }},
        {"--freeze-noise", "freeze_noise", [](O& o) -> double& { return o.freezeNoise; }},
    };
    return settings;
}

const SegmentSetting* segmentSettingOfOption(const std::string& option) {
    for (const SegmentSetting& s : segmentSettings())
        if (option == s.option) return &s;
    return nullptr;
}

const SegmentSetting* segmentSettingOfKey(const std::string& key) {
    for (const SegmentSetting& s : segmentSettings())
        if (key == s.key) return &s;
    return nullptr;
}

double segmentStatValue(const SegmentSummary& s, size_t statIndex) {
    switch (statIndex) {
        case 0: return static_cast<double>(s.count);
        case 1: return static_cast<double>(s.frames);
        case 2: return s.total;
        case 3: return s.longest;
    }
    return __builtin_nan("");
}

double rowTime(const FrameRow& row, double fps) {
    return std::isfinite(row.ptsTime) ? row.ptsTime : static_cast<double>(row.frame) / fps;
}

SegmentDetector::SegmentDetector(const SegmentOptions& options, double fps, int64_t width, int64_t height)
    : options_(options), fps_(fps), width_(width), height_(height) {}

void SegmentDetector::close(SegmentKind kind, const FrameRow* next, std::vector<Segment>& closed) {
    Open& o = open_[static_cast<size_t>(kind)];
    if (!o.active) return;
    o.active = false;
    const double minimum = options_.minimumSeconds[static_cast<size_t>(kind)];
    // The same comparison as the freezing indicator's, in frames; a minimum of
    // 0 or below keeps everything, even when fps is not a usable number.
    if (minimum > 0.0 && !(static_cast<double>(o.counted) >= fps_ * minimum)) return;
    Segment s;
    s.kind = kind;
    s.firstFrame = o.firstFrame;
    s.lastFrame = o.firstFrame + o.frames - 1;
    s.start = o.start;
    s.fps = fps_;
    const FrameRow& last = next != nullptr ? *next : previous_;
    const bool fromPts = o.startFromPts || std::isfinite(last.ptsTime);
    if (next != nullptr) {
        s.end = rowTime(*next, fps_);
    } else if (std::isfinite(previous_.ptsTime)) {
        s.end = previous_.ptsTime + 1.0 / fps_;
    } else {
        s.end = static_cast<double>(previous_.frame + 1) / fps_;
    }
    // Without presentation times the duration is frames / fps, so that 6
    // frames at 10 fps last 0.6 s and not 1.3 - 0.7 = 0.6000000000000001 s.
    s.duration = fromPts ? s.end - s.start : static_cast<double>(o.frames) / fps_;
    if (isBarKind(kind)) {
        for (size_t side = 0; side < 4; ++side) s.bars[side] = o.bars[side] >= options_.minimumBar ? o.bars[side] : 0.0;
        s.width = width_;
        s.height = height_;
    }
    if (kind == SegmentKind::Interlaced && o.fieldOrderFrames > 0) {
        const double mean = o.fieldOrderSum / static_cast<double>(o.fieldOrderFrames);
        s.fieldOrder = mean > options_.fieldOrderThreshold    ? FieldOrder::TopFirst
                       : mean < -options_.fieldOrderThreshold ? FieldOrder::BottomFirst
                                                              : FieldOrder::Unknown;
    }
    s.worstFrame = o.worstFrame;
    s.worstBelow = o.worstBelow;
    s.worstAbove = o.worstAbove;
    s.peakFrame = o.peakFrame;
    s.peakRate = o.peakRate;
    closed.push_back(s);
}

void SegmentDetector::add(const FrameRow& row, std::vector<Segment>& closed) {
    const lumaqc_result& v = row.values;
    // Dark: the brightest block is at or below the black level (a picture
    // without a whole block, or whose value was skipped, is not black).
    const bool black = v.brightest_block >= 0.0 && v.brightest_block <= options_.blackLevel;
    // Flat pictures of any other level: slates, test fills.
    const bool flat = v.blackout != 0 && !black;
    // No block mean changed by more than an encoder's noise leaves in it; a
    // picture without a whole block repeats only when it is identical.
    const bool still = v.block_difference >= 0.0 ? v.block_difference <= options_.freezeNoise
                                                 : v.temporal_activity == 0.0;
    const bool repeat = havePrevious_ && v.has_previous != 0 && still && !black && !flat;
    // Not-a-number bars (values not computed) reach no minimum.
    const std::array<double, 4> bars{v.bar_top, v.bar_bottom, v.bar_left, v.bar_right};
    const double least = options_.minimumBar;
    const bool state[kSegmentKindCount] = {
        black,
        repeat,
        bars[0] >= least || bars[1] >= least,
        bars[2] >= least || bars[3] >= least,
        v.combing > options_.interlaceThreshold,
        // Not-a-number (the levels skipped) is never out of range.
        v.below_range + v.above_range > options_.rangeArea,
        flat,
        // Not-a-number (the screening skipped) never fails.
        v.flashes_per_second > LUMAQC_FLASH_MAX_RATE,
    };
    for (size_t k = 0; k < kSegmentKindCount; ++k) {
        Open& o = open_[k];
        if (!state[k]) {
            close(static_cast<SegmentKind>(k), &row, closed);
            continue;
        }
        // A bar of another size ends the segment and starts the next.
        const size_t firstSide = static_cast<SegmentKind>(k) == SegmentKind::Letterbox ? 0 : 2;
        if (o.active && isBarKind(static_cast<SegmentKind>(k)) &&
            (std::fabs(bars[firstSide] - o.firstBars[firstSide]) > options_.barChange ||
             std::fabs(bars[firstSide + 1] - o.firstBars[firstSide + 1]) > options_.barChange))
            close(static_cast<SegmentKind>(k), &row, closed);
        if (!o.active) {
            o.active = true;
            o.frames = 0;
            o.counted = 0;
            o.worstFrame = -1;
            o.peakFrame = -1;
            // A freeze starts at the picture that is repeated.
            const bool freeze = static_cast<SegmentKind>(k) == SegmentKind::Freeze;
            const FrameRow& first = freeze ? previous_ : row;
            o.firstFrame = first.frame;
            o.start = rowTime(first, fps_);
            o.startFromPts = std::isfinite(first.ptsTime);
            if (freeze) o.frames = 1;
            o.firstBars = o.bars = bars;
            o.fieldOrderSum = 0.0;
            o.fieldOrderFrames = 0;
        }
        ++o.frames;
        ++o.counted;
        for (size_t side = 0; side < 4; ++side) o.bars[side] = bars[side] < o.bars[side] ? bars[side] : o.bars[side];
        if (v.has_previous != 0 && std::isfinite(v.field_order)) {
            o.fieldOrderSum += v.field_order;
            ++o.fieldOrderFrames;
        }
        if (static_cast<SegmentKind>(k) == SegmentKind::OutOfRange &&
            (o.worstFrame < 0 || v.below_range + v.above_range > o.worstBelow + o.worstAbove)) {
            o.worstFrame = row.frame;
            o.worstBelow = v.below_range;
            o.worstAbove = v.above_range;
        }
        if (static_cast<SegmentKind>(k) == SegmentKind::Flash && (o.peakFrame < 0 || v.flashes_per_second > o.peakRate)) {
            o.peakFrame = row.frame;
            o.peakRate = v.flashes_per_second;
        }
    }
    previous_ = row;
    havePrevious_ = true;
}

void SegmentDetector::finish(std::vector<Segment>& closed) {
    for (size_t k = 0; k < kSegmentKindCount; ++k) close(static_cast<SegmentKind>(k), nullptr, closed);
}

std::array<SegmentSummary, kSegmentKindCount> summarise(const std::vector<Segment>& segments) {
    std::array<SegmentSummary, kSegmentKindCount> summary{};
    for (const Segment& s : segments) {
        SegmentSummary& k = summary[static_cast<size_t>(s.kind)];
        ++k.count;
        k.frames += s.lastFrame - s.firstFrame + 1;
        k.total += s.duration;
        if (k.count == 1 || s.duration > k.longest) k.longest = s.duration;
    }
    return summary;
}

bool isWaived(const Segment& s, const std::vector<Waiver>& waivers) {
    for (const Waiver& w : waivers)
        if (w.kind == s.kind && w.first <= s.firstFrame && s.lastFrame <= w.last) return true;
    return false;
}

bool atRunEdge(const Segment& s, double edge, double runStart, double runEnd) {
    return edge > 0.0 && (s.start < runStart + edge || s.end > runEnd - edge);
}

std::string durationText(double duration, double fps) {
    if (!(fps > 0.0 && fps < 1e9) || !std::isfinite(duration)) return shortest(duration);
    const int decimals = std::clamp(static_cast<int>(std::ceil(std::log10(fps))) + 3, 3, 9);
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, duration);
    return shortest(std::strtod(text, nullptr));
}

std::string segmentLine(const Segment& s) {
    const std::string kind = segmentKindName(s.kind);
    std::string out = kind + "_start: ";
    appendShortest(out, s.start);
    out += " " + kind + "_end: ";
    appendShortest(out, s.end);
    out += " " + kind + "_duration: " + durationText(s.duration, s.fps);
    out += " first_frame: " + std::to_string(s.firstFrame) + " last_frame: " + std::to_string(s.lastFrame);
    if (isBarKind(s.kind)) {
        static const char* const kSides[4] = {" top: ", " bottom: ", " left: ", " right: "};
        for (size_t side = 0; side < 4; ++side) {
            out += kSides[side];
            appendShortest(out, s.bars[side]);
        }
        out += " crop: " + cropText(s);
    }
    if (s.kind == SegmentKind::Interlaced) out += std::string(" field_order: ") + fieldOrderName(s.fieldOrder);
    if (s.kind == SegmentKind::OutOfRange) {
        out += " worst_frame: " + std::to_string(s.worstFrame) + " below_range: ";
        appendShortest(out, s.worstBelow);
        out += " above_range: ";
        appendShortest(out, s.worstAbove);
    }
    if (s.kind == SegmentKind::Flash) {
        out += " peak_frame: " + std::to_string(s.peakFrame) + " peak_flashes_per_second: ";
        appendShortest(out, s.peakRate);
    }
    return out;
}

std::string segmentsJson(const std::vector<Segment>& segments) {
    std::string out = "[";
    for (size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        const std::string kind = segmentKindName(s.kind);
        if (i > 0) out += ", ";
        out += "{\"type\": \"" + kind + "\", \"first_frame\": " + std::to_string(s.firstFrame) +
               ", \"last_frame\": " + std::to_string(s.lastFrame) + ", \"" + kind + "_start\": ";
        appendJsonNumber(out, s.start);
        out += ", \"" + kind + "_end\": ";
        appendJsonNumber(out, s.end);
        out += ", \"" + kind + "_duration\": ";
        appendJsonNumber(out, s.duration);
        if (isBarKind(s.kind)) {
            static const char* const kSides[4] = {", \"top\": ", ", \"bottom\": ", ", \"left\": ", ", \"right\": "};
            for (size_t side = 0; side < 4; ++side) {
                out += kSides[side];
                appendJsonNumber(out, s.bars[side]);
            }
            out += ", \"crop\": ";
            appendJsonString(out, cropText(s));
        }
        if (s.kind == SegmentKind::Interlaced) {
            out += ", \"field_order\": ";
            appendJsonString(out, fieldOrderName(s.fieldOrder));
        }
        if (s.kind == SegmentKind::OutOfRange) {
            out += ", \"worst_frame\": " + std::to_string(s.worstFrame) + ", \"worst_below_range\": ";
            appendJsonNumber(out, s.worstBelow);
            out += ", \"worst_above_range\": ";
            appendJsonNumber(out, s.worstAbove);
        }
        if (s.kind == SegmentKind::Flash) {
            out += ", \"peak_frame\": " + std::to_string(s.peakFrame) + ", \"peak_flashes_per_second\": ";
            appendJsonNumber(out, s.peakRate);
        }
        out += '}';
    }
    out += ']';
    return out;
}

std::string segmentSummaryJson(const std::array<SegmentSummary, kSegmentKindCount>& summary) {
    std::string out = "{";
    for (size_t k = 0; k < kSegmentKindCount; ++k) {
        if (k > 0) out += ", ";
        appendJsonString(out, kKindNames[k]);
        out += ": {";
        for (size_t s = 0; s < 4; ++s) {
            if (s > 0) out += ", ";
            appendJsonString(out, kSegmentStatNames[s]);
            out += ": ";
            appendJsonNumber(out, segmentStatValue(summary[k], s));
        }
        out += '}';
    }
    out += '}';
    return out;
}

std::string segmentsText(const std::vector<Segment>& segments) {
    const auto summary = summarise(segments);
    std::string out = "Segments:\n";
    for (size_t k = 0; k < kSegmentKindCount; ++k) {
        out += '\t';
        out += kKindNames[k];
        out += ": " + std::to_string(summary[k].count) + " segments, " + std::to_string(summary[k].frames) +
               " frames, total ";
        appendShortest(out, summary[k].total);
        out += " s, longest ";
        appendShortest(out, summary[k].longest);
        out += " s\n";
    }
    for (const Segment& s : segments) out += segmentLine(s) + "\n";
    return out;
}

}  // namespace lumaqc::report
