#include "pieces.hpp"

#include <sched.h>

#include <algorithm>
#include <cmath>

#include "lumaqc/lumaqc.h"

namespace lumaqc {

namespace {
constexpr int64_t kPeriod = LUMAQC_FLICKERING_PERIOD;  // calls of flickering per report
}

bool isPieceStart(int32_t runStart, int32_t start) {
    const int64_t offset = static_cast<int64_t>(start) - runStart;
    return offset == 0 || (offset > 1 && (offset - 1) % kPeriod == 0);
}

std::string pieceStartError(int32_t runStart, int32_t start) {
    const int64_t offset = static_cast<int64_t>(start) - runStart;
    if (offset < 0)
        return "The start frame " + std::to_string(start) + " lies before the run start " + std::to_string(runStart);
    const int64_t below = offset <= kPeriod ? 0 : (offset - 1) / kPeriod * kPeriod + 1;
    const int64_t above = offset < kPeriod + 1 ? kPeriod + 1 : below + kPeriod;
    return "A piece of the run starting at frame " + std::to_string(runStart) +
           " starts at that frame or right after a flickering report: " + std::to_string(runStart + below) +
           " or " + std::to_string(runStart + above) + ", not " + std::to_string(start);
}

int32_t warmUpStart(int32_t runStart, int32_t start, double fps) {
    const int64_t offset = static_cast<int64_t>(start) - runStart;
    if (offset <= 0) return start;
    // Frozen frames the flag waits for (without a positive rate none), and
    // the flash screening's two windows: a frame's flashes count the
    // transitions of the second before it, each from runs reaching back a second.
    const double frozen = fps > 0.0 ? std::ceil(fps * 0.1) : 0.0;
    const double wanted = std::max(frozen, 2.0 * lumaqc_flash_window(fps));
    if (!(wanted < static_cast<double>(offset - 1))) return runStart;
    // One more frame, whose own temporal activity is not computed.
    return static_cast<int32_t>(start - static_cast<int64_t>(wanted) - 1);
}

int availableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return std::min(count, 1024);
    }
    return 1;
}

}  // namespace lumaqc
