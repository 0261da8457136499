// Gates: conditions on the pooled statistics and the segments that fail a run.
//
//   EXPR   := NAME "." STAT OP NUMBER        (blanks allowed around the parts)
//   NAME   := a column name of columns() but "frame"  (blur, temporal_activity, ...)
//           | black | freeze | letterbox | pillarbox | interlaced | out_of_range | flat | flash
//   STAT   := min | max | mean | harmonic_mean | p1 | p5 | p50 | p95 | p99 | count | excluded   (columns)
//           | count | frames | total | longest                                      (segments)
//   OP     := < | <= | > | >= | == | !=
//   NUMBER := a finite decimal number as strtod reads it, whole text consumed
//
// A gate trips when "value OP NUMBER" holds. A value that does not exist (the
// statistic of a column without any value) trips no gate.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "report/pooling.hpp"
#include "report/segments.hpp"

namespace lumaqc::report {

enum class GateOp { Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

struct Gate {
    std::string expression;  // as given
    bool segment = false;    // a segment kind, or a column
    size_t subject = 0;      // index in columns(), or SegmentKind
    size_t stat = 0;         // index in kStatNames, or kSegmentStatNames
    GateOp op = GateOp::Less;
    double threshold = 0.0;
};

struct GateResult {
    Gate gate;
    double value = __builtin_nan("");  // NaN when the statistic has no value
    bool tripped = false;
};

// "SUBJECT OP NUMBER": the subject (trimmed), the comparison and the number;
// false with the reason in *error when the text is not one.
bool splitComparison(const std::string& expression, std::string* subject, GateOp* op, double* threshold,
                     std::string* error);

// Whether "value OP threshold" holds (never for a NaN value).
bool gateTrips(double value, GateOp op, double threshold);

// The gate, or an error text naming what is wrong.
std::optional<Gate> parseGate(const std::string& expression, std::string* error);

std::vector<GateResult> evaluateGates(const std::vector<Gate>& gates, const std::vector<PooledColumn>& pooled,
                                      const std::array<SegmentSummary, kSegmentKindCount>& segments);

// "gate black.count>0: value 1, tripped" per gate, newline-terminated.
std::string gatesText(const std::vector<GateResult>& results);

// [{"expression": "black.count>0", "value": 1, "tripped": true}, ...]
std::string gatesJson(const std::vector<GateResult>& results);

}  // namespace lumaqc::report
