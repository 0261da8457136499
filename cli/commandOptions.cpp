#include "commandOptions.hpp"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "lumaqc/lumaqc.h"
#include "report/profiles.hpp"

namespace lumaqc {

std::string splitCommandLine(int argc, char** argv, CommandLine* out) {
    CommandLine line;
    // A program started with an empty argument vector (argc 0) has neither
    // options nor a name: argv[0] is the null that ends the vector.
    std::vector<std::string> args;
    if (argc > 1) args.assign(argv + 1, argv + argc);
    line.positional.push_back(argc > 0 ? argv[0] : nullptr);
    // The profile first: options given on the command line override its settings.
    std::vector<bool> taken(args.size(), false);
    for (size_t k = 0; k < args.size() && args[k] != "--"; ++k) {
        const std::string name = optionName(args[k]);
        if (name != "--profile" && name != "--waivers") continue;
        const bool inlineValue = name.size() < args[k].size();
        if (!inlineValue && k + 1 >= args.size()) return name + " needs a value";
        const std::string value = inlineValue ? args[k].substr(name.size() + 1) : args[k + 1];
        taken[k] = true;
        if (!inlineValue) taken[++k] = true;
        if (!line.reports.profile.empty() && name == "--profile") return "--profile is given twice";
        const std::string error = name == "--profile" ? applyProfile(value, &line.reports)
                                                      : loadWaivers(value, &line.reports.waivers);
        if (!error.empty()) return error;
    }
    size_t i = 0;
    while (i < args.size()) {
        if (args[i] == "--") {
            // The rest is the input options' and positionals' business.
            for (; i < args.size(); ++i) line.positional.push_back(argv[i + 1]);
            break;
        }
        if (taken[i]) {
            ++i;
            continue;
        }
        if (args[i].rfind("--", 0) != 0) {
            line.positional.push_back(argv[i + 1]);
            ++i;
            continue;
        }
        std::string error;
        switch (report::parseReportOption(args, i, line.reports, &error)) {
            case report::OptionStatus::Consumed: break;
            case report::OptionStatus::Error: return error;
            case report::OptionStatus::Unknown:
                // The input options are parsed with the positionals.
                line.positional.push_back(argv[i + 1]);
                ++i;
                break;
        }
    }
    if (std::string error = report::checkReportOptions(line.reports); !error.empty()) return error;
    *out = std::move(line);
    return "";
}

std::string optionName(const std::string& word) { return word.substr(0, word.find('=')); }

bool optionValue(const std::string& word, int argc, char** argv, int* i, std::string* value) {
    if (const size_t equals = word.find('='); equals != std::string::npos) {
        *value = word.substr(equals + 1);
        return true;
    }
    if (*i + 1 >= argc) return false;
    *value = argv[++*i];
    return true;
}

int analysisPathFromEnvironment() {
    const char* path = std::getenv("LUMAQC_ANALYSIS_PATH");
    return path != nullptr && std::strcmp(path, "per-indicator") == 0 ? LUMAQC_PATH_PER_INDICATOR
                                                                       : LUMAQC_PATH_ONE_PASS;
}

int skipAddedValuesFromEnvironment() {
    const char* skip = std::getenv("LUMAQC_SKIP_ADDED_VALUES");
    if (skip == nullptr) return 0;
    for (const auto& [name, bits] : {std::pair<const char*, int>{"1", LUMAQC_SKIP_ADDED_ALL},
                                     {"events", LUMAQC_SKIP_EVENT_VALUES},
                                     {"levels", LUMAQC_SKIP_LEVEL_VALUES},
                                     {"flashes", LUMAQC_SKIP_FLASH_VALUES}})
        if (std::strcmp(skip, name) == 0) return bits;
    return 0;
}

const char* instructionSetName(unsigned isa) {
    switch (isa) {
        case LUMAQC_ISA_AVX512: return "avx512";
        case LUMAQC_ISA_AVX2: return "avx2";
        default: return "generic";
    }
}

}  // namespace lumaqc
