// lumaqc check INPUT... [--profile NAME|FILE] [--waivers FILE]: a verdict per
// input from the reports' own segments and gates, without log or rows.
#pragma once

namespace lumaqc {

// Whether the command line is "lumaqc check ...".
bool isCheckCommand(int argc, char** argv);

// Runs the check; 0 when every input passes, 1 when one fails, 255 (returned
// as -1) when one cannot be analysed, 128 + N after stop signal N.
int runCheck(int argc, char** argv);

}  // namespace lumaqc
