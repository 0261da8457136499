// Profiles: the thresholds and gates of a check, one JSON file each
//     {"description": "...", "settings": {"min_black": 2, "range": "r103", "edge": 1, ...},
//      "gates": ["black.count>0", ...]}
// (settings: the segment settings' JSON keys, range, range_area and edge), and
// waivers: events marked as intended, a JSON list of {"type", "first", "last"}.
#pragma once

#include <string>
#include <vector>

#include "report/options.hpp"

namespace lumaqc {

// The file of a profile: NAME itself when it names a file (it holds a '/' or
// ends in .json), else the built-in profile NAME.json found beside the program
// (profiles/ in its folder, or ../share/lumaqc/profiles/). An error text, or "".
std::string findProfile(const std::string& name, std::string* path);

// The names of the built-in profiles, sorted.
std::vector<std::string> builtInProfiles();

// Sets the profile's settings in options and adds its gates; an error text
// naming the profile and what is wrong, or "".
std::string applyProfile(const std::string& name, report::ReportOptions* options);

// Reads the waivers of a file into *waivers; an error text, or "".
std::string loadWaivers(const std::string& path, std::vector<report::Waiver>* waivers);

}  // namespace lumaqc
