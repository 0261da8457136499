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

// The folders that may hold the built-in profiles of this program: profiles/
// in its folder, or ../share/lumaqc/profiles/.
std::vector<std::string> programProfileFolders();

// The file of a profile: NAME itself when it names a file (it holds a '/' or
// ends in .json), else the built-in profile NAME.json found in the first of
// folders that has it. An error text, or "".
std::string findProfile(const std::string& name, std::string* path,
                        const std::vector<std::string>& folders = programProfileFolders());

// The names of the built-in profiles, sorted.
std::vector<std::string> builtInProfiles(const std::vector<std::string>& folders = programProfileFolders());

// Sets the profile's settings in options and adds its gates; an error text
// naming the profile and what is wrong, or "".
std::string applyProfile(const std::string& name, report::ReportOptions* options,
                         const std::vector<std::string>& folders = programProfileFolders());

// Reads the waivers of a file into *waivers; an error text, or "".
std::string loadWaivers(const std::string& path, std::vector<report::Waiver>* waivers);

}  // namespace lumaqc
