// lumaqc merge: joins the JSON reports of the pieces of a run (see
// pieces.hpp) into the reports of the whole run, as if it had run at once.
#pragma once

namespace lumaqc {

// argv[0] is the program, argv[1] "merge" (or "--merge"); then report
// options and the pieces' JSON files in frame order. Returns the exit status.
int runMerge(int argc, char** argv);

// Whether the command line asks for the merge: "--merge" as the first
// argument, or "merge" when no file of that name is there to analyse.
bool isMergeCommand(int argc, char** argv);

}  // namespace lumaqc
