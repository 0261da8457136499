// The verdict of a run: its segments split into those that count for the
// gates, those waived and those at the run's edges, and the gates evaluated
// over the first. The single run, lumaqc check and the Python module judge
// with this one function.
#pragma once

#include <vector>

#include "report/gates.hpp"
#include "report/options.hpp"
#include "report/pooling.hpp"
#include "report/segments.hpp"

namespace lumaqc::report {

struct Verdict {
    std::vector<Segment> gated, waived, atEdges;  // together: the segments judged, in their order
    std::vector<GateResult> gates;
    bool tripped = false;  // a gate tripped: the run fails
};

// Judges the segments of a run spanning runStart..runEnd seconds with the
// waivers, edge and gates of options.
Verdict judgeRun(const std::vector<Segment>& segments, const std::vector<PooledColumn>& pooled,
                 const ReportOptions& options, double runStart, double runEnd);

// Per SegmentKind, whether a gate is about it: the kinds whose events a
// verdict lists.
std::vector<bool> gatedKinds(const std::vector<GateResult>& gates);

}  // namespace lumaqc::report
