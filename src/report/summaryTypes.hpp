// What the summary of a run hands to the reports: the segments found (runs of
// black, frozen, letterboxed, pillarboxed or interlaced frames) and the pooled
// statistics of each indicator over the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Kept apart from the segment detector's own types (report/segments.hpp),
// which the command line turns into these.
namespace lumaqc::report::html {

struct Segment {
    std::string kind;        // "black", "freeze", "letterbox", "pillarbox", "interlaced"
    int64_t firstFrame = 0;  // absolute frame indexes, both included
    int64_t lastFrame = 0;
    double start = 0.0;      // seconds
    double end = 0.0;
};

struct Pooled {
    std::string metric;      // column name of columns()
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double harmonicMean = 0.0;
    double p1 = 0.0;
    double p5 = 0.0;
    double p50 = 0.0;
    double p95 = 0.0;
    double p99 = 0.0;
    int64_t count = 0;       // values that went into the statistics
    int64_t excluded = 0;    // frames left out of them
};

// A small JPEG of one frame of an event.
struct Thumbnail {
    int64_t frame = 0;
    std::string jpeg;  // the file's bytes
    int32_t width = 0, height = 0;
};

// An event as the review on top of the page lists it.
struct Event {
    std::string kind;
    int64_t firstFrame = 0, lastFrame = 0;
    double start = 0.0, end = 0.0;       // seconds
    std::string firstTimecode, lastTimecode;
    std::string note;                    // "" (counted), "waived", "at an end, not gated"
    std::vector<Thumbnail> thumbnails;   // its first, middle and last frame; empty when none were kept
};

// A gate on a statistic of a per-frame value, drawn as a line on its plot.
struct Threshold {
    std::string column;      // column name of columns()
    std::string expression;  // as given
    double value = 0.0;
    bool tripped = false;
};

// What the top of the page says: the verdict, the profile, the events.
struct Review {
    std::string verdict;  // "PASS", "FAIL", or "" when no gate was given
    std::string profile;  // "" when none
    std::vector<std::string> gates;  // one line per gate, as the console prints them
    std::vector<Event> events;
    std::vector<Threshold> thresholds;
    std::string picturesNote;  // why an event has no pictures ("" when all have)
};

}  // namespace lumaqc::report::html
