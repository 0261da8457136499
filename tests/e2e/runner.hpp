// Runs the lumaqc binary in a fresh working directory and collects what it wrote.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Polls until ready() holds, however long a loaded machine takes, unless the
// child ends first: then false, with its wait status in *raw.
inline bool childStillRunningWhen(pid_t pid, const std::function<bool()>& ready, int* raw) {
    while (!ready()) {
        if (::waitpid(pid, raw, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    bool logExists = false;
    std::string log;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A scratch directory removed when the object goes out of scope.
struct WorkDir {
    std::string path;
    WorkDir() {
        char tmpl[] = "/tmp/lumaqc-e2e-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~WorkDir() {
        std::string cmd = "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
        (void)std::system(cmd.c_str());
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(file(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

inline int runShell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Runs `binary args` inside dir (args are shell words, already quoted where needed).
inline RunResult runIn(const WorkDir& dir, const std::string& args, const std::string& binary = LUMAQC_BINARY) {
    RunResult r;
    const std::string cmd = "cd '" + dir.path + "' && '" + binary + "' " + args + " > '" + dir.file(".stdout") +
                            "' 2> '" + dir.file(".stderr") + "'";
    r.status = runShell(cmd);
    r.out = readFile(dir.file(".stdout"));
    r.err = readFile(dir.file(".stderr"));
    r.logExists = fileExists(dir.file("metricsResultsCSV.csv"));
    if (r.logExists) r.log = readFile(dir.file("metricsResultsCSV.csv"));
    return r;
}

// Lines of a text, without their newlines.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) lines.push_back(line);
    return lines;
}

// The summary of many files: their standard output from its header line
// ("input ...") on, after the lines of the inputs as they finished.
inline std::string summaryOf(const std::string& out) {
    const size_t header = out.rfind("\ninput ");
    return out.rfind("input ", 0) == 0 || header == std::string::npos ? out : out.substr(header + 1);
}

// The tab-separated fields of a log row, trailing blanks removed.
inline std::vector<std::string> fieldsOf(const std::string& row) {
    std::vector<std::string> fields;
    std::stringstream ss(row);
    std::string field;
    while (std::getline(ss, field, '\t')) {
        while (!field.empty() && field.back() == ' ') field.pop_back();
        fields.push_back(field);
    }
    return fields;
}

// Raw YUV 4:2:0 clip whose frame t has the luma plane lumaOf(t); chroma 128.
template <typename LumaOf>
std::vector<uint8_t> makeClip(int w, int h, int frames, LumaOf lumaOf) {
    std::vector<uint8_t> clip;
    const size_t frameBytes = static_cast<size_t>(w) * h * 3 / 2;
    for (int t = 0; t < frames; ++t) {
        std::vector<uint8_t> luma = lumaOf(t);
        luma.resize(frameBytes, 128);
        clip.insert(clip.end(), luma.begin(), luma.end());
    }
    return clip;
}
