// lumaqc diff OLD.json NEW.json: what a redelivery changed, from two JSON
// reports: events resolved, new and persisting, pooled statistics that moved,
// and gates over them.
#pragma once

namespace lumaqc {

// Whether the command line is "lumaqc diff ...".
bool isDiffCommand(int argc, char** argv);

// Runs the diff; 0, 1 when a gate tripped, 255 (returned as -1) when a report
// cannot be read or is not a lumaqc report, or the arguments are wrong.
int runDiff(int argc, char** argv);

}  // namespace lumaqc
