// Pieces of a run: a run over frames [S, S + n) cut into pieces that are
// analysed separately and whose rows, put together, are the whole run's.
//
// A piece starts at S, or right after one of the run's flickering reports
// (frame S + 8k + 1, k >= 1), where flickering starts a new period with every
// block still. Before its first frame it analyses, without rows, the frames
// the rest of its state depends on: the picture before (temporal activity and
// flickering compare with it) and as many frames as the freezing indicator
// counts before it raises its flag (a tenth of a second, rounded up) or the
// flash screening looks back (two of its one-second windows), whichever is more.
#pragma once

#include <cstdint>
#include <string>

namespace lumaqc {

// Whether a piece of the run starting at runStart may start at start.
bool isPieceStart(int32_t runStart, int32_t start);

// The usage error for a start that is not a piece start, naming the nearest ones.
std::string pieceStartError(int32_t runStart, int32_t start);

// The first frame the piece analyses (without rows up to start) at this rate.
int32_t warmUpStart(int32_t runStart, int32_t start, double fps);

// Processors this process may run on (at least 1).
int availableProcessors();

}  // namespace lumaqc
