// The flash screening, frame by frame. The one pass leaves the rounded mean
// of every whole 8 x 8 block (from the block sums noise, exposure and
// blackout already form); here each block follows its run of monotonic
// change: a change against the run's direction starts a new run from the
// code before it, and the run reaches back at most one second (a slower
// change is a fade, not part of a flash). The darker and brighter ends of a
// run are compared through a table of codes, so the step per block is
// integer work: the screen luminance function is applied once per code.
//
// A block's run starts either within the window, at the code kept when it
// started, or before it, at the code of the window's first frame; so the
// step reads the codes of the frame before and of the window's first frame
// in block order, and goes 32 blocks at a time where the processor has AVX2,
// passing over 32 blocks that did not change at once.
#include <algorithm>
#include <cstring>

#include "common/indicatorHelpers.hpp"
#include "indicators/indicators.hpp"
#include "simd/blockSpan.hpp"
#include "simd/isa.hpp"

#ifdef LUMAQC_X86_VARIANTS
#include <immintrin.h>
#endif

namespace lumaqc {

// Run starts more than a window back are moved up to the window's first
// frame this often, so that a frame and a run start (both modulo 2^16) stay
// less than 2^16 apart.
constexpr int64_t FLASH_RUN_CLAMP = 1 << 15;

void reserveFlashes(FlashState& state, uint64_t w, uint64_t h, double fps, Isa isa) {
    state.isa = isa;
    state.blocks = (w / BLOCKSIZE) * (h / BLOCKSIZE);
    state.window = lumaqc_flash_window(fps);
    state.frame = 0;
    const uint64_t planes = static_cast<uint64_t>(state.window) + 1;
    state.codes.assign(planes * state.blocks, 0);
    state.direction.assign(state.blocks, 0);
    state.runStart.assign(state.blocks, 0);
    state.startCode.assign(state.blocks, 0);
    state.flags.assign(planes, 0);
    // Luminance rises with the code, so a darker code c changes into a
    // transition from the first brighter code that does and beyond.
    for (int c = 0; c < 256; ++c) {
        int hi = c + 1;
        while (hi < 256 && !isFlashChange(screenLuminance(c), screenLuminance(hi))) ++hi;
        state.calm[c] = hi - 1;
    }
}

void flashOfferBlocks(const int32_t* sums, uint64_t n, uint8_t* codes) {
    // A block's mean, rounded to the nearest code (halves up).
    for (uint64_t j = 0; j < n; ++j) codes[j] = static_cast<uint8_t>(static_cast<uint32_t>(sums[j] + 32) >> 6);
}

void flashBlockCodes(const Image* img, uint8_t* codes) {
    const uint64_t blockCols = img->w / BLOCKSIZE;
    forEachBlockSpan(img, [&](uint64_t by, uint64_t b0, const int32_t* sums, uint64_t n) {
        flashOfferBlocks(sums, n, codes + by * blockCols + b0);
    });
}

// Flashes in the window ending at the state's last frame: a frame whose
// brightening or darkening area rose above the limit holds a transition, and
// a transition counts when it opposes the last one counted in the window
// (one per frame; where both directions rise, the opposing one).
static double flashesInWindow(const FlashState& s) {
    const int64_t planes = s.window + 1;
    const int64_t t = s.frame;
    int count = 0;
    int last = 0;
    for (int64_t f = std::max<int64_t>(1, t - s.window + 1); f <= t; ++f) {
        const uint8_t now = s.flags[static_cast<size_t>(f % planes)];
        const uint8_t before = s.flags[static_cast<size_t>((f - 1) % planes)];
        const uint8_t rose = static_cast<uint8_t>(now & ~before);
        if ((rose & 1) != 0 && last != 1) {
            ++count;
            last = 1;
        } else if ((rose & 2) != 0 && last != -1) {
            ++count;
            last = -1;
        }
    }
    return count / 2.0;
}

namespace {

// One frame's step over the blocks: this frame's codes, the frame before's,
// the window's first frame's (a plane not yet written before the window is
// full, never chosen then), the per-block run state, and the frame and the
// window in run-start units.
struct FlashStep {
    const uint8_t* now;
    const uint8_t* before;
    const uint8_t* first;
    int8_t* direction;
    uint16_t* runStart;
    uint8_t* startCode;
    const int32_t* calm;
    uint16_t frame;  // modulo 2^16
    uint16_t window;
};

// Blocks [from, to) one at a time, without a branch: a block that did not
// change keeps its state and counts nowhere.
static LUMAQC_ALWAYS_INLINE void flashStepPlain(const FlashStep& f, uint64_t from, uint64_t to, uint64_t* brighter,
                                                uint64_t* darker) {
    uint64_t up = 0, down = 0;
    const uint16_t started = static_cast<uint16_t>(f.frame - 1);
    for (uint64_t b = from; b < to; ++b) {
        const uint8_t c = f.now[b], p = f.before[b];
        const uint32_t rose = c > p ? 1 : 0, fell = c < p ? 1 : 0;
        const int8_t e = static_cast<int8_t>(static_cast<int32_t>(rose) - static_cast<int32_t>(fell));
        const int8_t dir = f.direction[b];
        const bool flip = c != p && e != dir;
        f.direction[b] = c != p ? e : dir;
        const uint16_t start = flip ? started : f.runStart[b];
        const uint8_t code = flip ? p : f.startCode[b];
        f.runStart[b] = start;
        f.startCode[b] = code;
        // The run's code one second back at most.
        const uint16_t age = static_cast<uint16_t>(f.frame - start);
        const uint8_t a = age >= f.window ? f.first[b] : code;
        const uint8_t lo = a < c ? a : c, hi = a < c ? c : a;
        const uint32_t hit = hi > f.calm[lo] ? 1 : 0;
        up += hit & rose;
        down += hit & fell;
    }
    *brighter += up;
    *darker += down;
}

static LUMAQC_ALWAYS_INLINE void flashStepBody(const FlashStep* f, uint64_t n, uint64_t* counts) {
    flashStepPlain(*f, 0, n, &counts[0], &counts[1]);
}
LUMAQC_VARIANTS(void, flashStepVariant, flashStepBody, (const FlashStep* f, uint64_t n, uint64_t* counts),
                (f, n, counts))

#ifdef LUMAQC_X86_VARIANTS
// 32 blocks at a time, the run starts 16 at a time; the transition limit of
// each darker code gathered from the table, packed back to bytes in block
// order.
LUMAQC_TARGET_AVX2 static void flashStepAvx2(const FlashStep* f, uint64_t n, uint64_t* counts) {
    const uint64_t whole = n / 32 * 32;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i frame = _mm256_set1_epi16(static_cast<int16_t>(f->frame));
    const __m256i started = _mm256_set1_epi16(static_cast<int16_t>(f->frame - 1));
    const __m256i window = _mm256_set1_epi16(static_cast<int16_t>(f->window));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    uint64_t up = 0, down = 0;
    for (uint64_t b = 0; b < whole; b += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f->now + b));
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f->before + b));
        const __m256i same = _mm256_cmpeq_epi8(c, p);
        if (static_cast<uint32_t>(_mm256_movemask_epi8(same)) == 0xffffffffu) continue;
        const __m256i rise = _mm256_subs_epu8(c, p), fall = _mm256_subs_epu8(p, c);
        const __m256i e = _mm256_sub_epi8(_mm256_min_epu8(rise, one), _mm256_min_epu8(fall, one));
        int8_t* directionAt = f->direction + b;
        const __m256i dir = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(directionAt));
        const __m256i kept = _mm256_or_si256(_mm256_cmpeq_epi8(e, dir), same);  // no new run
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(directionAt), _mm256_blendv_epi8(e, dir, same));
        uint8_t* codeAt = f->startCode + b;
        const __m256i code = _mm256_blendv_epi8(p, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codeAt)), kept);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(codeAt), code);
        uint16_t* startAt = f->runStart + b;
        const __m256i kept0 = _mm256_cvtepi8_epi16(_mm256_castsi256_si128(kept));
        const __m256i kept1 = _mm256_cvtepi8_epi16(_mm256_extracti128_si256(kept, 1));
        const __m256i start0 =
            _mm256_blendv_epi8(started, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(startAt)), kept0);
        const __m256i start1 =
            _mm256_blendv_epi8(started, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(startAt + 16)), kept1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(startAt), start0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(startAt + 16), start1);
        // Runs that reach a window back start at the window's first frame.
        const __m256i age0 = _mm256_sub_epi16(frame, start0), age1 = _mm256_sub_epi16(frame, start1);
        const __m256i old0 = _mm256_cmpeq_epi16(_mm256_max_epu16(age0, window), age0);
        const __m256i old1 = _mm256_cmpeq_epi16(_mm256_max_epu16(age1, window), age1);
        const __m256i old = _mm256_permute4x64_epi64(_mm256_packs_epi16(old0, old1), 0xd8);
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f->first + b));
        const __m256i a = _mm256_blendv_epi8(code, first, old);
        const __m256i lo = _mm256_min_epu8(a, c), hi = _mm256_max_epu8(a, c);
        const __m128i lo0 = _mm256_castsi256_si128(lo), lo1 = _mm256_extracti128_si256(lo, 1);
        const __m256i g0 = _mm256_i32gather_epi32(f->calm, _mm256_cvtepu8_epi32(lo0), 4);
        const __m256i g1 = _mm256_i32gather_epi32(f->calm, _mm256_cvtepu8_epi32(_mm_srli_si128(lo0, 8)), 4);
        const __m256i g2 = _mm256_i32gather_epi32(f->calm, _mm256_cvtepu8_epi32(lo1), 4);
        const __m256i g3 = _mm256_i32gather_epi32(f->calm, _mm256_cvtepu8_epi32(_mm_srli_si128(lo1, 8)), 4);
        const __m256i calm = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(_mm256_packus_epi32(g0, g1), _mm256_packus_epi32(g2, g3)), order);
        const uint32_t quiet = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_subs_epu8(hi, calm), zero)));
        const uint32_t notUp = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(rise, zero)));
        const uint32_t notDown = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(fall, zero)));
        up += static_cast<uint64_t>(_mm_popcnt_u32(~(quiet | notUp)));
        down += static_cast<uint64_t>(_mm_popcnt_u32(~(quiet | notDown)));
    }
    counts[0] += up;
    counts[1] += down;
    flashStepPlain(*f, whole, n, &counts[0], &counts[1]);
}
#endif

LUMAQC_EXPLICIT_AVX2(void, flashStep, flashStepAvx2, flashStepVariant,
                     (const FlashStep* f, uint64_t n, uint64_t* counts), (f, n, counts))

}  // namespace

FlashValues flashes(const uint8_t* codes, FlashState& s) {
    const uint64_t n = s.blocks;
    const int64_t planes = s.window + 1;
    const int64_t t = s.frame;
    auto plane = [&](int64_t frame) { return s.codes.data() + static_cast<uint64_t>(frame % planes) * n; };
    uint8_t* now = plane(t);
    if (n != 0) std::memcpy(now, codes, n);
    // Every block's first run starts at the first frame.
    if (t == 0 && n != 0) std::memcpy(s.startCode.data(), codes, n);
    FlashValues v;
    uint8_t flags = 0;
    if (t > 0 && n != 0) {
        if (t % FLASH_RUN_CLAMP == 0) {
            const uint16_t first = static_cast<uint16_t>(t - s.window);
            for (uint64_t b = 0; b < n; ++b)
                if (static_cast<uint16_t>(t - s.runStart[b]) > s.window) s.runStart[b] = first;
        }
        // Frame t - window lies in the plane after frame t's.
        const FlashStep step{now,
                             plane(t - 1),
                             plane(t + 1),
                             s.direction.data(),
                             s.runStart.data(),
                             s.startCode.data(),
                             s.calm,
                             static_cast<uint16_t>(t),
                             static_cast<uint16_t>(s.window)};
        uint64_t counts[2] = {0, 0};
        flashStep(s.isa, &step, n, counts);
        const uint64_t brighter = counts[0], darker = counts[1];
        // More than a quarter of the screen: 4 x blocks in transition > blocks.
        flags = static_cast<uint8_t>((4 * brighter > n ? 1 : 0) | (4 * darker > n ? 2 : 0));
        v.area = static_cast<double>(std::max(brighter, darker)) / static_cast<double>(n);
    }
    s.flags[static_cast<size_t>(t % planes)] = flags;
    v.rate = flashesInWindow(s);
    ++s.frame;
    return v;
}

}  // namespace lumaqc
