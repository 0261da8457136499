#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"
#include "tools/blockStatistics.hpp"

namespace lumaqc {

namespace reference {

static int signOf(int d) { return d > 0 ? 1 : (d < 0 ? -1 : 0); }

FlashValues flashes(const Image* cur, FlashHistory& history, double fps) {
    const size_t window = static_cast<size_t>(lumaqc_flash_window(fps));
    const uint64_t blockCols = cur->w / BLOCKSIZE;
    const uint64_t blockRows = cur->h / BLOCKSIZE;
    const uint64_t n = blockCols * blockRows;

    // The rounded mean of every whole 8 x 8 block.
    std::vector<uint8_t> codes(n);
    if (n != 0) {
        Image32 sums = callocImage32(blockCols, blockRows);
        blockSums(cur, &sums, BLOCKSIZE, BLOCKSIZE);
        for (uint64_t i = 0; i < n; ++i) codes[i] = static_cast<uint8_t>((sums.data[i] + 32) / 64);
        freeImage32(&sums);
    }
    // This frame and at most one second before it.
    history.codes.push_back(codes);
    if (history.codes.size() > window + 1) history.codes.pop_front();

    FlashValues v;
    uint8_t flags = 0;
    const size_t t = history.codes.size() - 1;
    if (t > 0 && n != 0) {
        uint64_t brighter = 0, darker = 0;
        for (uint64_t b = 0; b < n; ++b) {
            const auto code = [&](size_t i) { return static_cast<int>(history.codes[i][b]); };
            const int e = signOf(code(t) - code(t - 1));
            if (e == 0) continue;
            // Back along the changes of this direction (or none) to where the
            // block last moved the other way, or to one second before.
            size_t s = t;
            while (s > 0 && signOf(code(s) - code(s - 1)) != -e) --s;
            if (!isFlashChange(screenLuminance(code(s)), screenLuminance(code(t)))) continue;
            if (e > 0) ++brighter;
            else ++darker;
        }
        const double brighterShare = static_cast<double>(brighter) / static_cast<double>(n);
        const double darkerShare = static_cast<double>(darker) / static_cast<double>(n);
        flags = static_cast<uint8_t>((brighterShare > LUMAQC_FLASH_MIN_AREA ? 1 : 0) |
                                     (darkerShare > LUMAQC_FLASH_MIN_AREA ? 2 : 0));
        v.area = brighterShare > darkerShare ? brighterShare : darkerShare;
    }
    history.flags.push_back(flags);
    if (history.flags.size() > window + 1) history.flags.pop_front();

    // The directions that rose above the area on each frame of the window,
    // in order; a flash is a pair of opposing transitions, so a transition
    // that repeats the direction of the one before it adds nothing.
    std::vector<int> transitions;
    for (size_t i = 1; i < history.flags.size(); ++i) {
        const bool up = (history.flags[i] & 1) != 0 && (history.flags[i - 1] & 1) == 0;
        const bool down = (history.flags[i] & 2) != 0 && (history.flags[i - 1] & 2) == 0;
        const int previous = transitions.empty() ? 0 : transitions.back();
        if (up && previous != 1) transitions.push_back(1);
        else if (down && previous != -1) transitions.push_back(-1);
    }
    v.rate = static_cast<double>(transitions.size()) / 2.0;
    return v;
}

}  // namespace reference

}  // namespace lumaqc
