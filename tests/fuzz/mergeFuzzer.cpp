// Fuzzing merge's piece reader. The input is the text of a piece's JSON
// report; parsePiece reads and checks it, checkPieces joins it with itself.
// Any sanitizer report or broken rule below is a crash.
//
// Rules checked besides the sanitizers:
//  - a refusal says what is wrong in one line;
//  - an accepted piece has rows numbered settings.start, settings.start + 1,
//    ... (so none past the 64-bit range), flags 0 or 1, a size and a start in
//    the 32-bit range, a run start at or before its start, and the same text
//    read again gives the same piece;
//  - the piece alone is a run when it starts its run (or names none); twice in
//    a row it is refused unless it has no rows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "merge.hpp"

using namespace lumaqc;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "mergeFuzzer: %s\n", what.c_str());
    std::abort();
}

bool sameRows(const std::vector<FrameRow>& a, const std::vector<FrameRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (a[k].frame != b[k].frame || std::memcmp(&a[k].values, &b[k].values, sizeof a[k].values) != 0) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    MergePiece piece;
    std::string error;
    if (!parsePiece(text, &piece, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos) fail("refused with the message [" + error + "]");
        return 0;
    }
    const report::StreamSettings& s = piece.settings;
    if (s.width < 1 || s.height < 1 || s.start < 0 || s.start > INT32_MAX) fail("accepted a size or start out of range");
    if (piece.runStart > s.start) fail("accepted a run start after the start");
    for (size_t k = 0; k < piece.rows.size(); ++k) {
        const FrameRow& row = piece.rows[k];
        if (row.frame != s.start + static_cast<int64_t>(k) || row.values.frame != static_cast<int64_t>(k))
            fail("row " + std::to_string(k) + " has the frame number " + std::to_string(row.frame));
        for (const Column& c : columns())
            if (c.kind == ColumnKind::Flag && columnValue(c, row) != 0 && columnValue(c, row) != 1)
                fail(std::string("the flag ") + c.name + " of row " + std::to_string(k) + " is not 0 or 1");
    }
    MergePiece again;
    if (!parsePiece(text, &again, &error) || !sameRows(piece.rows, again.rows) || again.runStart != piece.runStart)
        fail("the same text read twice differs");

    size_t faulty = 0;
    const bool alone = checkPieces({piece}, &faulty, &error);
    if (alone != (piece.runStart < 0 || piece.runStart == s.start)) fail("one piece alone: " + error);
    const bool twice = checkPieces({piece, piece}, &faulty, &error);
    if (twice != (piece.rows.empty() && piece.runStart == s.start)) fail("one piece twice: " + error);
    if (!twice && error.find('\n') != std::string::npos) fail("a multi-line refusal: " + error);
    return 0;
}
