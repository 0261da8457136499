#include "report/verdict.hpp"

namespace lumaqc::report {

Verdict judgeRun(const std::vector<Segment>& segments, const std::vector<PooledColumn>& pooled,
                 const ReportOptions& options, double runStart, double runEnd) {
    Verdict verdict;
    for (const Segment& s : segments) {
        std::vector<Segment>& group = isWaived(s, options.waivers)                            ? verdict.waived
                                      : atRunEdge(s, options.edgeSeconds, runStart, runEnd) ? verdict.atEdges
                                                                                            : verdict.gated;
        group.push_back(s);
    }
    verdict.gates = evaluateGates(options.gates, pooled, summarise(verdict.gated));
    for (const GateResult& g : verdict.gates) verdict.tripped = verdict.tripped || g.tripped;
    return verdict;
}

std::vector<bool> gatedKinds(const std::vector<GateResult>& gates) {
    std::vector<bool> kinds(kSegmentKindCount, false);
    for (const GateResult& g : gates)
        if (g.gate.segment && g.gate.subject < kinds.size()) kinds[g.gate.subject] = true;
    return kinds;
}

}  // namespace lumaqc::report
