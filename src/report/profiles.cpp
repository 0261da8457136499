#include "report/profiles.hpp"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace lumaqc {

namespace {

bool readText(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "Cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::stringstream whole;
    whole << in.rdbuf();
    *text = whole.str();
    return true;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::vector<std::string> programProfileFolders() {
    char exe[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) return {};
    std::string folder(exe, static_cast<size_t>(length));
    folder = folder.substr(0, folder.find_last_of('/'));
    return {folder + "/profiles", folder + "/../share/lumaqc/profiles"};
}

std::vector<std::string> builtInProfiles(const std::vector<std::string>& folders) {
    std::vector<std::string> names;
    for (const std::string& folder : folders) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string file = entry->d_name;
            if (endsWith(file, ".json")) names.push_back(file.substr(0, file.size() - 5));
        }
        ::closedir(dir);
        if (!names.empty()) break;
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string findProfile(const std::string& name, std::string* path, const std::vector<std::string>& folders) {
    if (name.find('/') != std::string::npos || endsWith(name, ".json")) {
        *path = name;
        return "";
    }
    for (const std::string& folder : folders)
        if (::access((folder + "/" + name + ".json").c_str(), R_OK) == 0) {
            *path = folder + "/" + name + ".json";
            return "";
        }
    std::string known;
    for (const std::string& n : builtInProfiles(folders)) known += (known.empty() ? "" : ", ") + n;
    return "Unknown profile '" + name + "': the built-in ones are " + (known.empty() ? "not installed" : known) +
           " (or give a profile file, e.g. ./mine.json)";
}

std::string applyProfile(const std::string& name, report::ReportOptions* options,
                         const std::vector<std::string>& folders) {
    std::string path, text, error;
    if (!(error = findProfile(name, &path, folders)).empty() || !readText(path, &text, &error)) return error;
    const std::string where = "Profile " + path + ": ";
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return where + "not a JSON object";
    for (const auto& [key, value] : doc.items())
        if (key != "description" && key != "settings" && key != "gates")
            return where + "unknown key '" + key + "' (description, settings, gates)";
    report::ReportOptions profile = *options;
    if (doc.contains("settings")) {
        if (!doc["settings"].is_object()) return where + "settings must be an object";
        for (const auto& [key, value] : doc["settings"].items()) {
            if (key == "range") {
                if (!value.is_string() ||
                    !report::parseRange(value.get<std::string>(), &profile.segments.rangeLow, &profile.segments.rangeHigh))
                    return where + "range must be r103, nominal, full or \"LOW-HIGH\"";
                profile.segments.rangeName = value.get<std::string>();
                continue;
            }
            if (!value.is_number() || !(value.get<double>() >= 0.0))
                return where + "setting '" + key + "' must be a number of 0 or more";
            const double number = value.get<double>();
            if (key == "range_area" && number > 1.0) return where + "range_area must be a fraction of 0 to 1";
            if (key == "range_area") profile.segments.rangeArea = number;
            else if (key == "edge") profile.edgeSeconds = number;
            else if (const report::SegmentSetting* setting = report::segmentSettingOfKey(key))
                setting->field(profile.segments) = number;
            else return where + "unknown setting '" + key + "'";
        }
    }
    if (doc.contains("gates")) {
        if (!doc["gates"].is_array()) return where + "gates must be a list of expressions";
        for (const auto& gate : doc["gates"]) {
            if (!gate.is_string()) return where + "gates must be a list of expressions";
            const auto parsed = report::parseGate(gate.get<std::string>(), &error);
            if (!parsed) return where + error;
            profile.gates.push_back(*parsed);
        }
    }
    profile.profile = name;
    *options = profile;
    return "";
}

std::string loadWaivers(const std::string& path, std::vector<report::Waiver>* waivers) {
    std::string text, error;
    if (!readText(path, &text, &error)) return error;
    const std::string where = "Waivers " + path + ": ";
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_array()) return where + "not a JSON list of {\"type\", \"first\", \"last\"}";
    std::vector<report::Waiver> read;
    for (size_t i = 0; i < doc.size(); ++i) {
        const nlohmann::json& w = doc[i];
        const std::string item = where + "item " + std::to_string(i + 1) + ": ";
        if (!w.is_object() || !w.contains("type") || !w.contains("first") || !w.contains("last"))
            return item + "needs type, first and last";
        const auto kind = w["type"].is_string() ? report::segmentKindFromName(w["type"].get<std::string>())
                                                : std::nullopt;
        if (!kind) return item + "unknown type " + w["type"].dump();
        if (!w["first"].is_number_unsigned() || !w["last"].is_number_unsigned() ||
            w["first"].get<uint64_t>() > w["last"].get<uint64_t>() || w["last"].get<uint64_t>() > INT64_MAX)
            return item + "first and last must be frame numbers, first <= last";
        read.push_back({*kind, w["first"].get<int64_t>(), w["last"].get<int64_t>()});
    }
    waivers->insert(waivers->end(), read.begin(), read.end());
    return "";
}

}  // namespace lumaqc
