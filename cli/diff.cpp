#include "diff.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commandOptions.hpp"
#include "outputs.hpp"
#include "report.hpp"
#include "report/gates.hpp"
#include "report/numbers.hpp"
#include "report/profiles.hpp"
#include "report/segments.hpp"

namespace lumaqc {

namespace {

using Json = nlohmann::ordered_json;

// Pooled statistics further apart than this fraction of the larger of the two have moved.
constexpr double kDefaultTolerance = 0.05;
// The pooled statistics compared: the values, not the frame counts.
constexpr const char* kComparedStats[] = {"min", "max", "mean", "harmonic_mean", "p1", "p5", "p50", "p95", "p99"};
// The groups a gate may name, in the order the text lists them.
constexpr const char* kGroups[] = {"resolved", "new", "persisting", "waived", "moved"};

const char* const kDiffUsage =
    "Usage: lumaqc diff OLD.json NEW.json [--json FILE] [--waivers FILE] [--fail-if EXPR]... [--tolerance FRACTION]\n\n"
    "What changed between two JSON reports of a programme (a fix-check after redelivery): events resolved\n"
    "(in OLD only), new (in NEW only) and persisting (in both: same type, overlapping frames), and the\n"
    "pooled statistics that moved by more than the tolerance (default 0.05: 5% of the larger value).\n"
    "Exit status 0, 1 when a gate tripped, 255 when a report cannot be read or is not a lumaqc report.\n"
    "  --json FILE           the diff as JSON ('-': standard output, instead of the text)\n"
    "  --waivers FILE        events marked as intended: [{\"type\": \"black\", \"first\": 0, \"last\": 24}];\n"
    "                        they, and those the reports list as waived, are set apart as waived\n"
    "  --fail-if EXPR        GROUP.STAT OP NUMBER: GROUP resolved, new, persisting, waived or moved,\n"
    "                        STAT count or frames (events' frames), e.g. 'new.count>0'\n"
    "  --tolerance FRACTION  how far apart two pooled statistics are to have moved\n";

struct Event {
    std::string type;
    int64_t first = 0, last = 0;
    Json item;  // as the report has it
};

struct Report {
    std::string path;
    double fps = 0.0;
    std::vector<Event> events;
    std::vector<bool> waived;  // per event: the report lists it as waived
    Json pooled;
};

struct DiffGate {
    std::string expression;
    size_t group = 0;
    bool frames = false;  // STAT frames, else count
    report::GateOp op = report::GateOp::Greater;
    double threshold = 0.0;
};

struct Options {
    std::string oldPath, newPath, jsonPath, waiversPath;
    std::vector<DiffGate> gates;
    double tolerance = kDefaultTolerance;
    bool help = false;
};

std::optional<DiffGate> parseDiffGate(const std::string& expression, std::string* error) {
    DiffGate gate;
    gate.expression = expression;
    std::string subject, why;
    if (!report::splitComparison(expression, &subject, &gate.op, &gate.threshold, &why)) {
        *error = "invalid --fail-if expression '" + expression + "': " + why;
        return std::nullopt;
    }
    const size_t dot = subject.find('.');
    const std::string name = subject.substr(0, dot), stat = dot == std::string::npos ? "" : subject.substr(dot + 1);
    bool known = false;
    for (size_t g = 0; g < std::size(kGroups); ++g)
        if (name == kGroups[g]) gate.group = g, known = true;
    if (!known || (stat != "count" && stat != "frames")) {
        *error = "invalid --fail-if expression '" + expression +
                 "': expected GROUP.STAT, GROUP resolved, new, persisting, waived or moved, STAT count or frames";
        return std::nullopt;
    }
    gate.frames = stat == "frames";
    return gate;
}

std::string parse(int argc, char** argv, Options* o) {
    std::vector<std::string> inputs;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            for (++i; i < argc; ++i) inputs.push_back(argv[i]);
            break;
        }
        if (word.rfind("--", 0) != 0 || word == "-") {
            inputs.push_back(word);
            continue;
        }
        const std::string name = optionName(word);
        if (name == "--help") {
            o->help = true;
            continue;
        }
        if (name != "--json" && name != "--waivers" && name != "--fail-if" && name != "--tolerance")
            return "Unknown option " + name + " of lumaqc diff (see lumaqc diff --help)";
        std::string value;
        if (!optionValue(word, argc, argv, &i, &value)) return "Option " + name + " needs a value";
        if (name == "--json") {
            o->jsonPath = value;
        } else if (name == "--waivers") {
            o->waiversPath = value;
        } else if (name == "--fail-if") {
            std::string error;
            const std::optional<DiffGate> gate = parseDiffGate(value, &error);
            if (!gate) return error;
            o->gates.push_back(*gate);
        } else {
            char* end = nullptr;
            errno = 0;
            o->tolerance = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || errno == ERANGE || !(o->tolerance >= 0.0 && o->tolerance < 1.0))
                return "--tolerance needs a fraction from 0 to below 1, not '" + value + "'";
        }
    }
    if (o->help) return "";
    if (inputs.size() != 2) return "lumaqc diff needs two JSON reports, OLD and NEW (see lumaqc diff --help)";
    o->oldPath = inputs[0];
    o->newPath = inputs[1];
    return "";
}

bool isFrameNumber(const Json& value) { return value.is_number_unsigned() && value.get<uint64_t>() <= INT64_MAX; }

// The report of a file; an error text when it cannot be read or is not a lumaqc report.
std::string readReport(const std::string& path, Report* r) {
    r->path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) return "Cannot read " + path + ": " + std::strerror(errno);
    std::stringstream whole;
    whole << in.rdbuf();
    if (in.bad()) return "Cannot read " + path + ": " + std::strerror(errno);
    const Json doc = Json::parse(whole.str(), nullptr, false);
    const std::string notOne = path + " is not a lumaqc JSON report: ";
    if (doc.is_discarded()) return notOne + "not JSON";
    if (!doc.is_object() || !doc.contains("version") || !doc["version"].is_string() || !doc.contains("events") ||
        !doc["events"].is_array() || !doc.contains("pooled_metrics") || !doc["pooled_metrics"].is_object())
        return notOne + "it has no version, events and pooled_metrics";
    if (doc.contains("settings") && doc["settings"].is_object() && doc["settings"].contains("fps") &&
        doc["settings"]["fps"].is_number())
        r->fps = doc["settings"]["fps"].get<double>();
    const auto eventsOf = [&](const Json& list, std::vector<Event>* out) -> std::string {
        for (const Json& e : list) {
            if (!e.is_object() || !e.contains("type") || !e["type"].is_string() || !e.contains("first_frame") ||
                !e.contains("last_frame") || !isFrameNumber(e["first_frame"]) || !isFrameNumber(e["last_frame"]) ||
                e["first_frame"].get<int64_t>() > e["last_frame"].get<int64_t>())
                return notOne + "an event without type, first_frame and last_frame: " + e.dump();
            out->push_back({e["type"].get<std::string>(), e["first_frame"].get<int64_t>(), e["last_frame"].get<int64_t>(), e});
        }
        return "";
    };
    if (std::string error = eventsOf(doc["events"], &r->events); !error.empty()) return error;
    std::vector<Event> waived;
    if (doc.contains("waived")) {
        if (!doc["waived"].is_array()) return notOne + "waived is not a list";
        if (std::string error = eventsOf(doc["waived"], &waived); !error.empty()) return error;
    }
    for (const Event& e : r->events) {
        bool listed = false;
        for (const Event& w : waived) listed = listed || (w.type == e.type && w.first == e.first && w.last == e.last);
        r->waived.push_back(listed);
    }
    r->pooled = doc["pooled_metrics"];
    return "";
}

bool overlap(const Event& a, const Event& b) { return a.type == b.type && a.first <= b.last && b.first <= a.last; }

bool waivedBy(const Event& e, const std::vector<report::Waiver>& waivers) {
    for (const report::Waiver& w : waivers)
        if (e.type == report::segmentKindName(w.kind) && w.first <= e.first && e.last <= w.last) return true;
    return false;
}

struct Moved {
    std::string name, stat;
    double oldValue = NAN, newValue = NAN;  // NaN: the report has none
};

struct Persisting {
    Event event;
    std::vector<Event> was;
};

struct Diff {
    std::vector<Event> resolved, added, waived;
    std::vector<Persisting> persisting;
    std::vector<Moved> moved;
};

double numberOr(const Json& stats, const char* stat) {
    return stats.is_object() && stats.contains(stat) && stats[stat].is_number() ? stats[stat].get<double>() : NAN;
}

Diff diffReports(const Report& before, const Report& after, const std::vector<report::Waiver>& waivers, double tolerance) {
    Diff d;
    std::vector<const Event*> olds, news;
    for (size_t i = 0; i < before.events.size(); ++i)
        if (!before.waived[i] && !waivedBy(before.events[i], waivers)) olds.push_back(&before.events[i]);
    for (size_t i = 0; i < after.events.size(); ++i) {
        if (after.waived[i] || waivedBy(after.events[i], waivers)) d.waived.push_back(after.events[i]);
        else news.push_back(&after.events[i]);
    }
    for (const Event* n : news) {
        Persisting p{*n, {}};
        for (const Event* o : olds)
            if (overlap(*o, *n)) p.was.push_back(*o);
        if (p.was.empty()) d.added.push_back(*n);
        else d.persisting.push_back(p);
    }
    for (const Event* o : olds) {
        bool stays = false;
        for (const Event* n : news) stays = stays || overlap(*o, *n);
        if (!stays) d.resolved.push_back(*o);
    }
    for (const auto& [name, oldStats] : before.pooled.items()) {
        if (!after.pooled.contains(name)) continue;
        for (const char* stat : kComparedStats) {
            const double a = numberOr(oldStats, stat), b = numberOr(after.pooled[name], stat);
            if (std::isnan(a) && std::isnan(b)) continue;
            // A value on one side only has moved too.
            const bool moved = std::isnan(a) || std::isnan(b) || std::fabs(b - a) > tolerance * std::fmax(std::fabs(a), std::fabs(b));
            if (moved) d.moved.push_back({name, stat, a, b});
        }
    }
    return d;
}

int64_t framesOf(const std::vector<Event>& events) {
    int64_t frames = 0;
    for (const Event& e : events) frames += e.last - e.first + 1;
    return frames;
}

std::vector<report::GateResult> evaluate(const std::vector<DiffGate>& gates, const Diff& d) {
    std::vector<Event> persisting;
    for (const Persisting& p : d.persisting) persisting.push_back(p.event);
    const std::vector<Event>* groups[] = {&d.resolved, &d.added, &persisting, &d.waived, nullptr};
    std::vector<report::GateResult> results;
    for (const DiffGate& g : gates) {
        report::GateResult r;
        r.gate.expression = g.expression;
        const std::vector<Event>* events = groups[g.group];
        // Moved statistics have no frames: their count only.
        r.value = events == nullptr ? (g.frames ? NAN : static_cast<double>(d.moved.size()))
                                    : static_cast<double>(g.frames ? framesOf(*events) : static_cast<int64_t>(events->size()));
        r.tripped = report::gateTrips(r.value, g.op, g.threshold);
        results.push_back(r);
    }
    return results;
}

std::string number(double value) { return std::isnan(value) ? "none" : report::shortest(value); }

// "black frames 50-109 (2-4.4 s)"
std::string eventText(const Event& e, double fps) {
    std::string text = report::terminalText(e.type) + " frames " + std::to_string(e.first) + "-" + std::to_string(e.last);
    const Json& item = e.item;
    const std::string start = e.type + "_start", end = e.type + "_end";
    if (item.contains(start) && item[start].is_number() && item.contains(end) && item[end].is_number())
        text += " (" + report::durationText(item[start].get<double>(), fps) + "-" +
                report::durationText(item[end].get<double>(), fps) + " s)";
    return text;
}

std::string diffText(const Options& o, const Report& after, const Diff& d, const std::vector<report::GateResult>& gates) {
    char tolerance[64];
    std::snprintf(tolerance, sizeof tolerance, "%g%%", o.tolerance * 100.0);
    std::string text = "resolved " + std::to_string(d.resolved.size()) + ", new " + std::to_string(d.added.size()) +
                       ", persisting " + std::to_string(d.persisting.size()) + ", waived " + std::to_string(d.waived.size()) +
                       ", moved " + std::to_string(d.moved.size()) + " (pooled statistics more than " + tolerance +
                       " apart)\n";
    for (const Event& e : d.resolved) text += "resolved " + eventText(e, after.fps) + "\n";
    for (const Event& e : d.added) text += "new " + eventText(e, after.fps) + "\n";
    for (const Persisting& p : d.persisting) {
        text += "persisting " + eventText(p.event, after.fps) + ", was";
        for (size_t i = 0; i < p.was.size(); ++i)
            text += std::string(i > 0 ? "," : "") + " frames " + std::to_string(p.was[i].first) + "-" + std::to_string(p.was[i].last);
        text += "\n";
    }
    for (const Event& e : d.waived) text += "waived " + eventText(e, after.fps) + "\n";
    for (const Moved& m : d.moved)
        text += "moved " + report::terminalText(m.name) + "." + m.stat + " " + number(m.oldValue) + " -> " + number(m.newValue) + "\n";
    return text + report::gatesText(gates);
}

Json eventsJson(const std::vector<Event>& events) {
    Json list = Json::array();
    for (const Event& e : events) list.push_back(e.item);
    return list;
}

Json numberJson(double value) { return std::isnan(value) ? Json(nullptr) : Json(value); }

std::string diffJson(const Options& o, const Diff& d, const std::vector<report::GateResult>& gates) {
    Json doc = Json::object();
    doc["reports"] = Json{{"old", o.oldPath}, {"new", o.newPath}};
    doc["tolerance"] = o.tolerance;
    doc["resolved"] = eventsJson(d.resolved);
    doc["new"] = eventsJson(d.added);
    Json persisting = Json::array();
    for (const Persisting& p : d.persisting) {
        Json item = p.event.item;
        item["was"] = eventsJson(p.was);
        persisting.push_back(item);
    }
    doc["persisting"] = persisting;
    doc["waived"] = eventsJson(d.waived);
    Json moved = Json::array();
    for (const Moved& m : d.moved)
        moved.push_back(Json{{"name", m.name}, {"stat", m.stat}, {"old", numberJson(m.oldValue)}, {"new", numberJson(m.newValue)}});
    doc["moved"] = moved;
    Json gateList = Json::array();
    for (const report::GateResult& g : gates)
        gateList.push_back(Json{{"expression", g.gate.expression}, {"value", numberJson(g.value)}, {"tripped", g.tripped}});
    doc["gates"] = gateList;
    // File names that are not UTF-8 keep their other characters.
    return doc.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool writeFile(const std::string& path, const std::string& text, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        *error = "Cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        *error = "Cannot write " + path + ": " + std::strerror(writeErrno != 0 ? writeErrno : errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

}  // namespace

bool isDiffCommand(int argc, char** argv) { return argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "diff") == 0; }

int runDiff(int argc, char** argv) {
    Options o;
    if (const std::string error = parse(argc, argv, &o); !error.empty()) {
        errorLine(stderr, "%s", error.c_str());
        return -1;
    }
    Console console;
    if (o.help) {
        console.write(kDiffUsage);
        if (console.flush()) return 0;
        errorLine(stderr, "%s", console.error().c_str());
        return -1;
    }
    std::vector<report::Waiver> waivers;
    Report before, after;
    std::string error;
    if (!o.waiversPath.empty()) error = loadWaivers(o.waiversPath, &waivers);
    if (error.empty()) error = readReport(o.oldPath, &before);
    if (error.empty()) error = readReport(o.newPath, &after);
    if (!error.empty()) {
        errorLine(stderr, "%s", error.c_str());
        return -1;
    }
    const Diff d = diffReports(before, after, waivers, o.tolerance);
    const std::vector<report::GateResult> gates = evaluate(o.gates, d);
    bool tripped = false;
    for (const report::GateResult& g : gates) tripped = tripped || g.tripped;
    if (o.jsonPath == "-") {
        console.write(diffJson(o, d, gates));
    } else {
        if (!o.jsonPath.empty() && !writeFile(o.jsonPath, diffJson(o, d, gates), &error)) {
            errorLine(stderr, "%s", error.c_str());
            return -1;
        }
        console.write(diffText(o, after, d, gates));
    }
    if (!console.flush()) {
        errorLine(stderr, "%s", console.error().c_str());
        return -1;
    }
    return tripped ? 1 : 0;
}

}  // namespace lumaqc
