// lumaqc diff: events resolved, new and persisting against a matching by the
// frames each side covers, on hand-made report pairs and on the reports of a
// clip and of its redelivery with an event removed; moved statistics, gates,
// waivers and exit statuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/clipKinds.hpp"
#include "e2e/runner.hpp"

namespace {

using Json = nlohmann::json;

struct Ev {
    std::string type;
    int64_t first, last;
    bool operator<(const Ev& o) const { return std::tie(type, first, last) < std::tie(o.type, o.first, o.last); }
    bool operator==(const Ev& o) const { return std::tie(type, first, last) == std::tie(o.type, o.first, o.last); }
};

Json eventJson(const Ev& e) {
    return {{"type", e.type}, {"first_frame", e.first}, {"last_frame", e.last}, {e.type + "_start", e.first * 0.04},
            {e.type + "_end", (e.last + 1) * 0.04}, {e.type + "_duration", (e.last - e.first + 1) * 0.04}};
}

// A report of events (those also in waived are listed as waived) with blur's
// pooled mean and p95.
std::string reportText(const std::vector<Ev>& events, const std::vector<Ev>& waived, double blurMean, double blurP95) {
    Json doc = {{"version", "1.0.0"}, {"settings", {{"fps", 25}}}, {"frames", Json::array()}};
    doc["pooled_metrics"] = {{"blur", {{"mean", blurMean}, {"p95", blurP95}, {"p50", nullptr}, {"count", 10}}}};
    doc["events"] = Json::array();
    for (const Ev& e : events) doc["events"].push_back(eventJson(e));
    if (!waived.empty()) {
        doc["waived"] = Json::array();
        for (const Ev& e : waived) doc["waived"].push_back(eventJson(e));
    }
    return doc.dump();
}

std::vector<Ev> eventsOf(const Json& list) {
    std::vector<Ev> events;
    for (const Json& e : list) events.push_back({e["type"], e["first_frame"], e["last_frame"]});
    std::sort(events.begin(), events.end());
    return events;
}

struct Expected {
    std::vector<Ev> resolved, added, persisting;
};

// The matching by frames: a new event persists when one of its frames lies in
// an old event of its type; an old one is resolved when none of its frames lies
// in a new one.
Expected matchByFrames(const std::vector<Ev>& olds, const std::vector<Ev>& news) {
    std::set<std::pair<std::string, int64_t>> oldFrames, newFrames;
    for (const Ev& e : olds)
        for (int64_t f = e.first; f <= e.last; ++f) oldFrames.insert({e.type, f});
    for (const Ev& e : news)
        for (int64_t f = e.first; f <= e.last; ++f) newFrames.insert({e.type, f});
    const auto touches = [](const Ev& e, const std::set<std::pair<std::string, int64_t>>& frames) {
        for (int64_t f = e.first; f <= e.last; ++f)
            if (frames.count({e.type, f}) != 0) return true;
        return false;
    };
    Expected x;
    for (const Ev& e : news) (touches(e, oldFrames) ? x.persisting : x.added).push_back(e);
    for (const Ev& e : olds)
        if (!touches(e, newFrames)) x.resolved.push_back(e);
    for (auto* list : {&x.resolved, &x.added, &x.persisting}) std::sort(list->begin(), list->end());
    return x;
}

void writeText(const WorkDir& dir, const std::string& name, const std::string& text) {
    dir.write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

// The diff's JSON against the matching by frames of the events left after the waived ones.
void expectMatching(const WorkDir& dir, const std::string& args, const std::vector<Ev>& olds,
                    const std::vector<Ev>& news, const std::vector<Ev>& waived) {
    const RunResult r = runIn(dir, "diff " + args + " --json d.json --fail-if 'new.count>0'");
    const Expected x = matchByFrames(olds, news);
    ASSERT_EQ(r.status, x.added.empty() ? 0 : 1) << r.out << r.err;
    const Json d = Json::parse(readFile(dir.file("d.json")));
    EXPECT_EQ(eventsOf(d["resolved"]), x.resolved);
    EXPECT_EQ(eventsOf(d["new"]), x.added);
    EXPECT_EQ(eventsOf(d["persisting"]), x.persisting);
    std::vector<Ev> sortedWaived = waived;
    std::sort(sortedWaived.begin(), sortedWaived.end());
    EXPECT_EQ(eventsOf(d["waived"]), sortedWaived);
    // The text lists the same events, a line each, after its counts line.
    EXPECT_EQ(linesOf(r.out).size(), 1 + x.resolved.size() + x.added.size() + x.persisting.size() + waived.size() +
                                         d["moved"].size() + 1)
        << r.out;
}

}  // namespace

TEST(Diff, HandMadeReportPairsMatchTheFramesTheyCover) {
    WorkDir dir;
    writeText(dir, "waivers.json", R"([{"type": "black", "first": 0, "last": 30}])");
    const struct {
        const char* name;
        std::vector<Ev> olds, news;
        std::vector<Ev> newListedWaived;  // the NEW report's own waived events
        bool waivers;                     // with waivers.json
    } cases[] = {
        {"nothing", {}, {}, {}, false},
        {"all resolved", {{"black", 10, 20}, {"freeze", 40, 90}}, {}, {}, false},
        {"all new", {}, {{"black", 10, 20}, {"freeze", 40, 90}}, {}, false},
        {"one frame overlap", {{"black", 10, 20}}, {{"black", 20, 25}}, {}, false},
        {"adjacent is not overlap", {{"black", 10, 20}}, {{"black", 21, 25}}, {}, false},
        {"other type is not overlap", {{"black", 10, 20}}, {{"freeze", 10, 20}}, {}, false},
        {"one old under two new", {{"freeze", 0, 100}}, {{"freeze", 5, 9}, {"freeze", 90, 120}, {"freeze", 101, 130}}, {}, false},
        {"two old under one new", {{"flat", 0, 10}, {"flat", 20, 30}, {"flat", 40, 50}}, {{"flat", 5, 25}}, {}, false},
        {"mixed", {{"black", 0, 24}, {"freeze", 100, 150}, {"interlaced", 300, 400}},
         {{"black", 0, 24}, {"freeze", 151, 160}, {"interlaced", 350, 351}, {"out_of_range", 7, 7}}, {}, false},
        {"the report's own waived", {{"black", 0, 24}}, {{"black", 0, 24}, {"freeze", 50, 60}}, {{"freeze", 50, 60}}, false},
        {"waivers file", {{"black", 0, 24}, {"freeze", 30, 40}}, {{"black", 0, 24}, {"black", 5, 40}, {"freeze", 30, 40}}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(dir, "old.json", reportText(c.olds, {}, 2.0, 4.0));
        writeText(dir, "new.json", reportText(c.news, c.newListedWaived, 2.0, 4.0));
        // Waived: listed so by the report or inside a waiver (black 0-30).
        std::vector<Ev> olds, news, waived;
        for (const Ev& e : c.olds)
            if (!(c.waivers && e.type == "black" && e.last <= 30)) olds.push_back(e);
        for (const Ev& e : c.news) {
            const bool listed = std::find(c.newListedWaived.begin(), c.newListedWaived.end(), e) != c.newListedWaived.end();
            ((c.waivers && e.type == "black" && e.last <= 30) || listed ? waived : news).push_back(e);
        }
        expectMatching(dir, std::string("old.json new.json") + (c.waivers ? " --waivers waivers.json" : ""), olds, news,
                       waived);
    }
}

// A clip, and its redelivery with the freeze removed and a black stretch added:
// the diff of their reports matches the frames of the reports' events.
TEST(Diff, ARedeliveryWithAnEventRemoved) {
    WorkDir dir;
    dir.write("first.yuv", clipOfKinds(kindsOf({{'n', 30}, {'b', 40}, {'n', 30}, {'f', 40}, {'n', 30}})));
    dir.write("second.yuv", clipOfKinds(kindsOf({{'n', 30}, {'b', 40}, {'n', 70}, {'b', 20}, {'n', 10}})));
    for (const char* name : {"first", "second"})
        ASSERT_EQ(runIn(dir, std::string("--quiet --no-log --json ") + name + ".json " + name + ".yuv 16 16").status, 0);
    const Json first = Json::parse(readFile(dir.file("first.json"))), second = Json::parse(readFile(dir.file("second.json")));
    const std::vector<Ev> olds = eventsOf(first["events"]), news = eventsOf(second["events"]);
    const Expected x = matchByFrames(olds, news);
    ASSERT_FALSE(x.resolved.empty());
    ASSERT_FALSE(x.added.empty());
    ASSERT_FALSE(x.persisting.empty());
    expectMatching(dir, "first.json second.json", olds, news, {});
    // Backwards, what was new is resolved.
    expectMatching(dir, "second.json first.json", news, olds, {});
}

TEST(Diff, MovedStatisticsGatesAndStatuses) {
    WorkDir dir;
    writeText(dir, "old.json", reportText({{"black", 0, 9}}, {}, 2.0, 4.0));
    writeText(dir, "blur.json", reportText({{"black", 0, 9}, {"freeze", 20, 29}}, {}, 3.0, 4.1));
    writeText(dir, "profile.json", R"({"gates": ["black.count>0"]})");
    writeText(dir, "garbage.json", "{\"version\": ");
    // blur.mean moves by a third of 3, blur.p95 by 0.1 of 4.1 (2.4%).
    const struct {
        std::string args;
        int status;
        std::vector<std::string> moved;
    } cases[] = {
        {"old.json blur.json", 0, {"blur.mean"}},
        {"old.json blur.json --tolerance 0.01", 0, {"blur.mean", "blur.p95"}},
        {"old.json blur.json --tolerance 0.5", 0, {}},
        {"old.json blur.json --fail-if 'moved.count>=1'", 1, {"blur.mean"}},
        {"old.json blur.json --fail-if 'new.count>0'", 1, {"blur.mean"}},
        {"old.json blur.json --fail-if 'new.frames>10'", 0, {"blur.mean"}},
        {"old.json blur.json --fail-if 'persisting.count!=1'", 0, {"blur.mean"}},
        {"old.json blur.json --fail-if 'resolved.count>0'", 0, {"blur.mean"}},
        {"blur.json old.json --fail-if 'resolved.frames==10'", 1, {"blur.mean"}},
        {"old.json blur.json --fail-if 'new.count>0' --waivers w.json", 0, {"blur.mean"}},
        {"old.json missing.json", 255, {}},
        {"old.json garbage.json", 255, {}},
        {"old.json profile.json", 255, {}},
        {"old.json", 255, {}},
        {"old.json blur.json --fail-if 'blur.p95>1'", 255, {}},
        {"old.json blur.json --tolerance 2", 255, {}},
        {"old.json blur.json --waivers missing.json", 255, {}},
    };
    writeText(dir, "w.json", R"([{"type": "freeze", "first": 20, "last": 29}])");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = runIn(dir, "diff " + c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.status == 255) {
            EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
            EXPECT_EQ(r.out, "");
            continue;
        }
        std::vector<std::string> moved;
        for (const std::string& line : linesOf(r.out))
            if (line.rfind("moved ", 0) == 0) moved.push_back(line.substr(6, line.find(' ', 6) - 6));
        EXPECT_EQ(moved, c.moved) << r.out;
        // The JSON on standard output says the same.
        const RunResult j = runIn(dir, "diff --json - " + c.args);
        EXPECT_EQ(j.status, c.status);
        const Json d = Json::parse(j.out);
        std::vector<std::string> movedJson;
        for (const Json& m : d["moved"]) movedJson.push_back(m["name"].get<std::string>() + "." + m["stat"].get<std::string>());
        EXPECT_EQ(movedJson, c.moved);
        bool tripped = false;
        for (const Json& g : d["gates"]) tripped = tripped || g["tripped"].get<bool>();
        EXPECT_EQ(tripped, c.status == 1);
    }
}
