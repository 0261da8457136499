// What the summary of a run hands to the reports: the segments found (runs of
// black, frozen, letterboxed, pillarboxed or interlaced frames) and the pooled
// statistics of each indicator over the run.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace lumaqc::report::html
