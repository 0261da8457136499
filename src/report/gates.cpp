#include "report/gates.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "report/numbers.hpp"

namespace lumaqc::report {

static std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool splitComparison(const std::string& expression, std::string* subject, GateOp* op, double* threshold,
                     std::string* error) {
    const size_t opAt = expression.find_first_of("<>=!");
    if (opAt == std::string::npos) return *error = "no comparison (one of < <= > >= == !=)", false;
    struct OpText {
        const char* text;
        GateOp op;
    };
    static const OpText ops[] = {{"<=", GateOp::LessEqual}, {">=", GateOp::GreaterEqual}, {"==", GateOp::Equal},
                                 {"!=", GateOp::NotEqual},  {"<", GateOp::Less},          {">", GateOp::Greater}};
    size_t opLength = 0;
    for (const OpText& o : ops) {
        if (expression.compare(opAt, std::strlen(o.text), o.text) == 0) {
            *op = o.op;
            opLength = std::strlen(o.text);
            break;
        }
    }
    if (opLength == 0) return *error = "unknown comparison (use one of < <= > >= == !=)", false;
    *subject = trimmed(expression.substr(0, opAt));
    const std::string number = trimmed(expression.substr(opAt + opLength));
    if (number.empty()) return *error = "no number after the comparison", false;
    errno = 0;
    char* end = nullptr;
    *threshold = std::strtod(number.c_str(), &end);
    if (*end != '\0' || !std::isfinite(*threshold) || errno == ERANGE)
        return *error = "'" + number + "' is not a finite number", false;
    return true;
}

std::optional<Gate> parseGate(const std::string& expression, std::string* error) {
    const auto fail = [&](const std::string& why) -> std::optional<Gate> {
        *error = "invalid --fail-if expression '" + expression + "': " + why;
        return std::nullopt;
    };
    Gate gate;
    gate.expression = expression;
    std::string subject, why;
    if (!splitComparison(expression, &subject, &gate.op, &gate.threshold, &why)) return fail(why);
    const size_t dot = subject.find('.');
    if (dot == std::string::npos) return fail("expected NAME.STAT before the comparison, e.g. blur.p95");
    const std::string name = subject.substr(0, dot);
    const std::string stat = subject.substr(dot + 1);

    if (const auto kind = segmentKindFromName(name)) {
        gate.segment = true;
        gate.subject = static_cast<size_t>(*kind);
        bool found = false;
        for (size_t s = 0; s < 4; ++s)
            if (stat == kSegmentStatNames[s]) gate.stat = s, found = true;
        if (!found) return fail("unknown segment statistic '" + stat + "' (count, frames, total, longest)");
    } else {
        bool known = false;
        for (size_t i = 0; i < columns().size(); ++i)
            if (columns()[i].kind != ColumnKind::FrameIndex && name == columns()[i].name) gate.subject = i, known = true;
        if (!known) return fail("unknown name '" + name + "' (a column such as blur, or black, freeze, ...)");
        bool found = false;
        for (size_t s = 0; s < kStatCount; ++s)
            if (stat == kStatNames[s]) gate.stat = s, found = true;
        if (!found)
            return fail("unknown statistic '" + stat + "' (min, max, mean, harmonic_mean, p1, p5, p50, p95, p99, count, excluded)");
    }

    return gate;
}

bool gateTrips(double value, GateOp op, double threshold) {
    switch (op) {
        case GateOp::Less: return value < threshold;
        case GateOp::LessEqual: return value <= threshold;
        case GateOp::Greater: return value > threshold;
        case GateOp::GreaterEqual: return value >= threshold;
        case GateOp::Equal: return value == threshold;
        case GateOp::NotEqual: return !std::isnan(value) && value != threshold;
    }
    return false;
}

std::vector<GateResult> evaluateGates(const std::vector<Gate>& gates, const std::vector<PooledColumn>& pooled,
                                      const std::array<SegmentSummary, kSegmentKindCount>& segments) {
    std::vector<GateResult> results;
    for (const Gate& g : gates) {
        GateResult r;
        r.gate = g;
        if (g.segment) {
            r.value = segmentStatValue(segments[g.subject], g.stat);
        } else {
            for (const PooledColumn& p : pooled)
                if (p.column == g.subject) r.value = statValue(p.stats, g.stat);
        }
        r.tripped = gateTrips(r.value, g.op, g.threshold);
        results.push_back(r);
    }
    return results;
}

std::string gatesText(const std::vector<GateResult>& results) {
    std::string out;
    for (const GateResult& r : results) {
        out += "gate " + r.gate.expression + ": value ";
        if (std::isnan(r.value)) out += "none";
        else appendShortest(out, r.value);
        out += r.tripped ? ", tripped\n" : ", passed\n";
    }
    return out;
}

std::string gatesJson(const std::vector<GateResult>& results) {
    std::string out = "[";
    for (size_t i = 0; i < results.size(); ++i) {
        if (i > 0) out += ", ";
        out += "{\"expression\": ";
        appendJsonString(out, results[i].gate.expression);
        out += ", \"value\": ";
        appendJsonNumber(out, results[i].value);
        out += results[i].tripped ? ", \"tripped\": true}" : ", \"tripped\": false}";
    }
    out += ']';
    return out;
}

}  // namespace lumaqc::report
