// Loading pages in headless Chromium for the HTML report's tests, and reading
// back what the page says it drew (#lumaqc-render-status).
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace lumaqc::test {

inline std::string findChromium() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        for (const char* name : {"chromium", "chromium-browser"}) {
            const std::string candidate = dir + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
    return {};
}

inline std::string artifactDir() {
    std::filesystem::create_directories(LUMAQC_HTML_ARTIFACT_DIR);
    return LUMAQC_HTML_ARTIFACT_DIR;
}

struct BrowserRun {
    int status = -1;
    std::string output;  // the browser's standard output
    double seconds = 0.0;
};

// Runs Chromium headless on a page with the given extra flags (--dump-dom,
// --screenshot=...), each run with a new empty profile, bounded in time.
// Its error stream goes to <artifacts>/<logName>.log.
inline BrowserRun runChromium(const std::string& chromium, const std::string& url, const std::string& flags,
                              const std::string& logName) {
    char profileTemplate[] = "/tmp/lumaqc-chromium-XXXXXX";
    BrowserRun run;
    if (!::mkdtemp(profileTemplate)) return run;
    const std::string profile = profileTemplate;
    const std::string command = "timeout 180 '" + chromium +
                                "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                                "--disable-background-networking --disable-component-update --disable-sync "
                                "--user-data-dir='" + profile + "' " + flags + " '" + url + "' 2>'" +
                                artifactDir() + "/" + logName + ".log'";
    const auto started = std::chrono::steady_clock::now();
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[1 << 16];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
        run.status = ::pclose(pipe);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::filesystem::remove_all(profile);
    return run;
}

// A picture of an event as the page decoded it: "thumb EVENT INDEX frame F
// width W height H rgb R,G,B,R,G,B,...".
struct DrawnThumbnail {
    int event = -1, index = -1;
    int64_t frame = -1;
    int width = 0, height = 0;
    std::vector<double> rgb;  // mean red, green and blue of each cell of a 4 x 4 grid, row by row
};

// The page's status lines: "plots N", "renderMs N", "bucket N", "error TEXT",
// "plot NAME key value key value ...", "thumb ...".
struct RenderStatus {
    bool found = false;
    int plots = -1;
    double renderMs = -1;
    int64_t bucket = -1;
    std::vector<DrawnThumbnail> thumbs;
    std::vector<std::string> errors;
    std::map<std::string, std::map<std::string, std::string>> plot;  // name -> key -> value
};

inline std::string unescapeText(std::string text) {
    const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                                                            {"&amp;", "&"}};
    for (const auto& [from, to] : entities)
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
            text.replace(at, std::char_traits<char>::length(from), to);
    return text;
}

inline RenderStatus readStatus(const std::string& dom) {
    RenderStatus status;
    const std::string open = "id=\"lumaqc-render-status\" hidden=\"\">";
    const size_t start = dom.find(open);
    if (start == std::string::npos) return status;
    const size_t end = dom.find("</pre>", start);
    if (end == std::string::npos) return status;
    status.found = true;
    std::stringstream lines(unescapeText(dom.substr(start + open.size(), end - start - open.size())));
    std::string line;
    while (std::getline(lines, line)) {
        std::stringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "plots") {
            words >> status.plots;
        } else if (kind == "renderMs") {
            words >> status.renderMs;
        } else if (kind == "bucket") {
            words >> status.bucket;
        } else if (kind == "thumb") {
            DrawnThumbnail t;
            std::string key, grid;
            words >> t.event >> t.index;
            while (words >> key) {
                if (key == "frame") words >> t.frame;
                if (key == "width") words >> t.width;
                if (key == "height") words >> t.height;
                if (key == "rgb") words >> grid;
            }
            std::stringstream cells(grid);
            for (std::string cell; std::getline(cells, cell, ',');) t.rgb.push_back(std::stod(cell));
            status.thumbs.push_back(t);
        } else if (kind == "error") {
            status.errors.push_back(line.substr(6));
        } else if (kind == "plot") {
            std::string name, key, value;
            words >> name;
            while (words >> key >> value) status.plot[name][key] = value;
        }
    }
    return status;
}

}  // namespace lumaqc::test
