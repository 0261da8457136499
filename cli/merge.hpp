// lumaqc merge: joins the JSON reports of the pieces of a run (see
// pieces.hpp) into the reports of the whole run, as if it had run at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/frameRows.hpp"
#include "report/writers.hpp"

namespace lumaqc {

// What merge takes from one piece's JSON report.
struct MergePiece {
    report::StreamSettings settings;  // frames: as requested, below 0 when unknown
    int64_t runStart = -1;            // settings.run_start, below 0 for a run made without --run-start
    bool streamTimes = false;         // the rows carry the stream's own times
    std::vector<FrameRow> rows;       // values.frame counted from settings.start
    std::vector<std::string> warnings;  // the reader's, carried into the whole run's report
};

// Reads a piece's JSON text and checks every value merge uses: the types,
// the ranges, frame numbers following one another from settings.start, flags
// 0 or 1, a finished run ("complete": true). On a fault, error is the field
// and what is wrong with it ("frames[3].frameNum is 12, not 11").
bool parsePiece(const std::string& text, MergePiece* piece, std::string* error);

// Whether the pieces, in this order, rebuild one run exactly: one run made
// without --run-start alone, or pieces of one run with the same input and
// settings, the first at the run start and each starting where the one
// before ended. On a fault, error names the piece's index and the field.
bool checkPieces(const std::vector<MergePiece>& pieces, size_t* faulty, std::string* error);

// argv[0] is the program, argv[1] "merge" (or "--merge"); then report
// options and the pieces' JSON files in frame order. Returns the exit status.
int runMerge(int argc, char** argv);

// Whether the command line asks for the merge: "--merge" as the first
// argument, or "merge" when no file of that name is there to analyse.
bool isMergeCommand(int argc, char** argv);

}  // namespace lumaqc
