// The library through its public header: streams are independent, variants
// and strides change no value, every documented error code is reachable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e/runner.hpp"
#include "report/frameRows.hpp"
#include "lumaqc/lumaqc.h"

using namespace lumaqc;

namespace {

struct Clip {
    int32_t w, h, frames;
    std::vector<uint8_t> bytes;
    const uint8_t* luma(int32_t i) const { return bytes.data() + static_cast<size_t>(i) * (static_cast<size_t>(w) * h * 3 / 2); }
};

// The sample clip at a given size, and the log the command line writes for it.
struct ClipAndLog {
    Clip clip;
    std::string log;
};

ClipAndLog sampleClip(int32_t w, int32_t h, int32_t frames) {
    WorkDir dir;
    const std::string size = std::to_string(w) + " " + std::to_string(h);
    EXPECT_EQ(runShell("'" LUMAQC_SAMPLE_BINARY "' '" + dir.file("clip.yuv") + "' " + size + " " +
                       std::to_string(frames)),
              0);
    const RunResult run = runIn(dir, "clip.yuv " + size);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string raw = readFile(dir.file("clip.yuv"));
    return {{w, h, frames, std::vector<uint8_t>(raw.begin(), raw.end())}, run.log};
}

lumaqc_context* openWith(const Clip& c, uint32_t isaMask = LUMAQC_ISA_ALL, int indicators = LUMAQC_INDICATORS_FAST) {
    lumaqc_settings s;
    lumaqc_default_settings(&s);
    s.isa_mask = isaMask;
    s.indicators = indicators;
    lumaqc_context* ctx = nullptr;
    EXPECT_EQ(lumaqc_open(&ctx, c.w, c.h, &s), LUMAQC_OK);
    return ctx;
}

// Analyses frame i given with the stride, appending its log row to log.
void analyseInto(lumaqc_context* ctx, const uint8_t* luma, ptrdiff_t stride, int64_t frame, std::string& log) {
    FrameRow row;
    row.frame = frame;
    ASSERT_EQ(lumaqc_analyse(ctx, luma, stride, &row.values), LUMAQC_OK);
    char text[kRowCapacity];
    log.append(text, formatRow(RowStyle::Log, row, text, sizeof text));
}

std::string wholeRun(const Clip& c, uint32_t isaMask, int indicators) {
    lumaqc_context* ctx = openWith(c, isaMask, indicators);
    std::string log = headerText(RowStyle::Log);
    for (int32_t i = 0; i < c.frames; ++i) analyseInto(ctx, c.luma(i), c.w, i, log);
    lumaqc_close(&ctx);
    return log;
}

// Large enough for block loss, odd enough for partial blocks everywhere.
const ClipAndLog& firstClip() {
    static const ClipAndLog clip = sampleClip(352, 288, 40);
    return clip;
}
const ClipAndLog& secondClip() {
    static const ClipAndLog clip = sampleClip(301, 263, 30);
    return clip;
}

}  // namespace

TEST(Api, InterleavedContextsGiveTheLogsOfSeparateRuns) {
    const ClipAndLog& a = firstClip();
    const ClipAndLog& b = secondClip();
    lumaqc_context* ca = openWith(a.clip);
    lumaqc_context* cb = openWith(b.clip);
    std::string logA = headerText(RowStyle::Log), logB = logA;
    for (int32_t i = 0; i < std::max(a.clip.frames, b.clip.frames); ++i) {
        if (i < a.clip.frames) analyseInto(ca, a.clip.luma(i), a.clip.w, i, logA);
        if (i < b.clip.frames) analyseInto(cb, b.clip.luma(i), b.clip.w, i, logB);
    }
    lumaqc_close(&ca);
    lumaqc_close(&cb);
    EXPECT_EQ(logA, a.log);
    EXPECT_EQ(logB, b.log);
}

TEST(Api, ContextsOnTwoThreadsGiveTheLogsOfSeparateRuns) {
    const ClipAndLog& a = firstClip();
    const ClipAndLog& b = secondClip();
    std::string logA, logB;
    std::thread ta([&] { logA = wholeRun(a.clip, LUMAQC_ISA_ALL, LUMAQC_INDICATORS_FAST); });
    std::thread tb([&] { logB = wholeRun(b.clip, LUMAQC_ISA_ALL, LUMAQC_INDICATORS_FAST); });
    ta.join();
    tb.join();
    EXPECT_EQ(logA, a.log);
    EXPECT_EQ(logB, b.log);
}

TEST(Api, EveryVariantAndTheReferenceGiveTheDefaultLog) {
    const struct {
        const char* name;
        uint32_t mask;
        int indicators;
    } cases[] = {
        {"generic", LUMAQC_ISA_GENERIC, LUMAQC_INDICATORS_FAST},
        {"avx2", LUMAQC_ISA_AVX2, LUMAQC_INDICATORS_FAST},
        {"avx512", LUMAQC_ISA_AVX512, LUMAQC_INDICATORS_FAST},
        {"reference", LUMAQC_ISA_ALL, LUMAQC_INDICATORS_REFERENCE},
    };
    for (const ClipAndLog* c : {&firstClip(), &secondClip()}) {
        for (const auto& k : cases) {
            lumaqc_context* ctx = openWith(c->clip, k.mask, k.indicators);
            uint32_t isa = 0;
            ASSERT_EQ(lumaqc_get_isa(ctx, &isa), LUMAQC_OK);
            // A variant the processor lacks falls back to the plain one.
            EXPECT_TRUE(isa == LUMAQC_ISA_GENERIC || (isa & k.mask) != 0) << k.name;
            lumaqc_close(&ctx);
            EXPECT_EQ(wholeRun(c->clip, k.mask, k.indicators), c->log) << k.name << " " << c->clip.w;
        }
    }
}

// Frames sent ahead and received in order, some through the context's own
// buffer and some copied in. *mostInFlight receives the most frames the
// context took at once.
std::string pipelinedRun(const Clip& c, int threads, int indicators, int64_t memoryBudget = 0,
                         int* mostInFlight = nullptr) {
    lumaqc_settings s;
    lumaqc_default_settings(&s);
    s.threads = threads;
    s.memory_budget = memoryBudget;
    s.indicators = indicators;
    s.measure_time = 1;
    lumaqc_context* ctx = nullptr;
    EXPECT_EQ(lumaqc_open(&ctx, c.w, c.h, &s), LUMAQC_OK);
    std::string log = headerText(RowStyle::Log);
    char text[kRowCapacity];
    auto receiveOne = [&] {
        FrameRow row;
        EXPECT_EQ(lumaqc_receive_result(ctx, &row.values), LUMAQC_OK);
        row.frame = row.values.frame;
        log.append(text, formatRow(RowStyle::Log, row, text, sizeof text));
    };
    for (int32_t i = 0; i < c.frames; ++i) {
        uint8_t* buffer = nullptr;
        while (lumaqc_frame_buffer(ctx, &buffer) == LUMAQC_ERROR_AGAIN) receiveOne();
        int inFlight = 0;
        lumaqc_frames_in_flight(ctx, &inFlight);
        if (mostInFlight != nullptr) *mostInFlight = std::max(*mostInFlight, inFlight + 1);
        if (i % 3 == 0) {
            std::memcpy(buffer, c.luma(i), static_cast<size_t>(c.w) * c.h);
            EXPECT_EQ(lumaqc_send_frame(ctx, buffer, c.w), LUMAQC_OK);
        } else {
            EXPECT_EQ(lumaqc_send_frame(ctx, c.luma(i), c.w), LUMAQC_OK);
        }
    }
    int left = 0;
    lumaqc_frames_in_flight(ctx, &left);
    for (; left > 0; --left) receiveOne();
    lumaqc_result none;
    EXPECT_EQ(lumaqc_receive_result(ctx, &none), LUMAQC_ERROR_AGAIN);
    lumaqc_close(&ctx);
    return log;
}

TEST(Api, AnyNumberOfThreadsGivesTheLogOfOne) {
    for (const ClipAndLog* c : {&firstClip(), &secondClip()}) {
        for (int threads : {0, 1, 2, 3, 8}) EXPECT_EQ(pipelinedRun(c->clip, threads, LUMAQC_INDICATORS_FAST), c->log) << threads;
        EXPECT_EQ(pipelinedRun(c->clip, 2, LUMAQC_INDICATORS_REFERENCE), c->log);
    }
}

// The pictures in flight, and the one before them, stay within the memory
// budget (two pictures at least), the values those of one thread; a budget
// that holds them all takes threads + 1 frames at once.
TEST(Api, TheMemoryBudgetCapsTheFramesInFlightAndKeepsTheValues) {
    const ClipAndLog& c = firstClip();
    const int64_t picture = int64_t{c.clip.w} * c.clip.h;
    for (int threads : {0, 2, 8}) {
        for (int64_t budget : {int64_t{1}, 2 * picture, 3 * picture + 1, 5 * picture, int64_t{0}}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, budget " + std::to_string(budget));
            int most = 0;
            EXPECT_EQ(pipelinedRun(c.clip, threads, LUMAQC_INDICATORS_FAST, budget, &most), c.log);
            const int64_t allowed = std::max(budget > 0 ? budget : LUMAQC_DEFAULT_MEMORY_BUDGET, 2 * picture);
            EXPECT_GE(most, 1);
            EXPECT_LE((most + 1) * picture, allowed);
            if ((threads + 2) * picture <= allowed) {
                EXPECT_EQ(most, threads > 1 ? threads + 1 : 1);
            }
        }
    }
}

static double totalSeconds(const lumaqc_times& t) {
    double sum = 0.0;
    for (float seconds : t.seconds) sum += seconds;
    return sum;
}

// Contexts with threads, read from the caller's thread while frames are in
// flight and closed before every result is taken: the results received are
// the log's first rows, the processor times only grow, and closing stops the
// threads (the ThreadSanitizer stage of the CI runs this).
TEST(Api, ClosingWithFramesInFlightKeepsWhatWasReceived) {
    const ClipAndLog& a = firstClip();
    const struct {
        int threads, received;
    } cases[] = {{2, 0}, {2, 7}, {3, 1}, {8, 0}, {8, 12}};
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.threads) + " threads, " + std::to_string(c.received) + " received";
        lumaqc_settings s;
        lumaqc_default_settings(&s);
        s.threads = c.threads;
        s.measure_time = 1;
        lumaqc_context* ctx = nullptr;
        ASSERT_EQ(lumaqc_open(&ctx, a.clip.w, a.clip.h, &s), LUMAQC_OK) << what;
        std::string log = headerText(RowStyle::Log);
        size_t end = 0;  // the header and the first rows of the command line's log
        for (int k = 0; k <= c.received; ++k) end = a.log.find('\n', end) + 1;
        const std::string want = a.log.substr(0, end);
        lumaqc_times before{};
        int32_t sent = 0;
        for (int k = 0; k < c.received; ++k) {
            // Send as far ahead as the context takes; the threads analyse a
            // frame sent since the last reading without being asked, so the
            // times grow while the caller only reads them.
            while (sent < a.clip.frames && lumaqc_send_frame(ctx, a.clip.luma(sent), a.clip.w) == LUMAQC_OK) ++sent;
            // No deadline: a frame that never finishes hangs the test until CTest's timeout.
            lumaqc_times now{};
            do {
                ASSERT_EQ(lumaqc_get_times(ctx, &now), LUMAQC_OK);
                std::this_thread::yield();
            } while (totalSeconds(now) == totalSeconds(before));
            EXPECT_GT(totalSeconds(now), totalSeconds(before)) << what << ", frame " << k;
            for (int i = 0; i < LUMAQC_INDICATOR_COUNT; ++i) EXPECT_GE(now.seconds[i], before.seconds[i]) << what << " " << i;
            before = now;
            FrameRow row;
            ASSERT_EQ(lumaqc_receive_result(ctx, &row.values), LUMAQC_OK) << what;
            row.frame = row.values.frame;
            char text[kRowCapacity];
            log.append(text, formatRow(RowStyle::Log, row, text, sizeof text));
        }
        // Frames left in flight (as many as the context takes) when it closes.
        while (sent < a.clip.frames && lumaqc_send_frame(ctx, a.clip.luma(sent), a.clip.w) == LUMAQC_OK) ++sent;
        int left = 0;
        ASSERT_EQ(lumaqc_frames_in_flight(ctx, &left), LUMAQC_OK);
        EXPECT_EQ(left, sent - c.received) << what;
        EXPECT_GT(left, 0) << what;
        ASSERT_EQ(lumaqc_close(&ctx), LUMAQC_OK) << what;
        EXPECT_EQ(log, want) << what;
    }
}

TEST(Api, PaddedRowsGiveTheRowsOfThePackedPicture) {
    const ClipAndLog& a = secondClip();
    for (const ptrdiff_t padding : {1, 13, 64}) {
        const ptrdiff_t stride = a.clip.w + padding;
        lumaqc_context* ctx = openWith(a.clip);
        std::string log = headerText(RowStyle::Log);
        std::vector<uint8_t> padded(static_cast<size_t>(stride) * a.clip.h);
        for (int32_t i = 0; i < a.clip.frames; ++i) {
            // The padding holds bytes no indicator may read.
            std::memset(padded.data(), 0xA5 ^ i, padded.size());
            for (int32_t y = 0; y < a.clip.h; ++y)
                std::memcpy(padded.data() + y * stride, a.clip.luma(i) + static_cast<size_t>(y) * a.clip.w, a.clip.w);
            analyseInto(ctx, padded.data(), stride, i, log);
        }
        lumaqc_close(&ctx);
        EXPECT_EQ(log, a.log) << "padding " << padding;
    }
}

TEST(Api, EveryErrorCodeIsReachedWithoutHarm) {
    lumaqc_settings good;
    lumaqc_default_settings(&good);
    lumaqc_settings noIsa = good, unknownIsa = good, badSet = good;
    noIsa.isa_mask = 0;
    unknownIsa.isa_mask = LUMAQC_ISA_ALL | 8u;
    badSet.indicators = 7;
    lumaqc_settings badThreads = good, badBudget = good;
    badThreads.threads = -1;
    badBudget.memory_budget = -1;
    lumaqc_context* ctx = nullptr;
    const struct {
        const char* what;
        int got;
        int want;
    } opens[] = {
        {"null handle", lumaqc_open(nullptr, 8, 8, &good), LUMAQC_ERROR_BAD_POINTER},
        {"zero width", lumaqc_open(&ctx, 0, 8, &good), LUMAQC_ERROR_SIZE},
        {"negative height", lumaqc_open(&ctx, 8, -1, &good), LUMAQC_ERROR_SIZE},
        {"too many pixels", lumaqc_open(&ctx, 65536, 65536, &good), LUMAQC_ERROR_SIZE},
        {"no variant", lumaqc_open(&ctx, 8, 8, &noIsa), LUMAQC_ERROR_INVALID},
        {"unknown variant", lumaqc_open(&ctx, 8, 8, &unknownIsa), LUMAQC_ERROR_INVALID},
        {"unknown indicator set", lumaqc_open(&ctx, 8, 8, &badSet), LUMAQC_ERROR_INVALID},
        {"negative threads", lumaqc_open(&ctx, 8, 8, &badThreads), LUMAQC_ERROR_INVALID},
        {"negative memory budget", lumaqc_open(&ctx, 8, 8, &badBudget), LUMAQC_ERROR_INVALID},
        {"null settings", lumaqc_default_settings(nullptr), LUMAQC_ERROR_BAD_POINTER},
    };
    for (const auto& c : opens) {
        EXPECT_EQ(c.got, c.want) << c.what;
        EXPECT_EQ(ctx, nullptr) << c.what;
    }

    ASSERT_EQ(lumaqc_open(&ctx, 16, 16, nullptr), LUMAQC_OK);
    uint8_t pixels[16 * 16] = {};
    lumaqc_result result;
    lumaqc_times times;
    uint8_t* buffer = nullptr;
    uint32_t isa = 0;
    const struct {
        const char* what;
        int got;
        int want;
    } calls[] = {
        {"null plane", lumaqc_analyse(ctx, nullptr, 16, &result), LUMAQC_ERROR_BAD_POINTER},
        {"null result", lumaqc_analyse(ctx, pixels, 16, nullptr), LUMAQC_ERROR_BAD_POINTER},
        {"short stride", lumaqc_analyse(ctx, pixels, 15, &result), LUMAQC_ERROR_INVALID},
        {"negative stride", lumaqc_analyse(ctx, pixels, -16, &result), LUMAQC_ERROR_INVALID},
        {"null times", lumaqc_get_times(ctx, nullptr), LUMAQC_ERROR_BAD_POINTER},
        {"null buffer", lumaqc_frame_buffer(ctx, nullptr), LUMAQC_ERROR_BAD_POINTER},
        {"null isa", lumaqc_get_isa(ctx, nullptr), LUMAQC_ERROR_BAD_POINTER},
        {"close of null handle", lumaqc_close(nullptr), LUMAQC_ERROR_BAD_POINTER},
        {"receive before send", lumaqc_receive_result(ctx, &result), LUMAQC_ERROR_AGAIN},
        {"null count", lumaqc_frames_in_flight(ctx, nullptr), LUMAQC_ERROR_BAD_POINTER},
        {"send of null plane", lumaqc_send_frame(ctx, nullptr, 16), LUMAQC_ERROR_BAD_POINTER},
    };
    for (const auto& c : calls) EXPECT_EQ(c.got, c.want) << c.what;
    // Refused calls change nothing: the next frame is still the first.
    ASSERT_EQ(lumaqc_analyse(ctx, pixels, 16, &result), LUMAQC_OK);
    EXPECT_EQ(result.frame, 0);
    EXPECT_EQ(result.has_previous, 0);
    // A frame in flight: the synchronous call, a further buffer and a new
    // period wait for it; without threads one frame is all that may fly.
    ASSERT_EQ(lumaqc_send_frame(ctx, pixels, 16), LUMAQC_OK);
    EXPECT_EQ(lumaqc_send_frame(ctx, pixels, 16), LUMAQC_ERROR_AGAIN);
    EXPECT_EQ(lumaqc_frame_buffer(ctx, &buffer), LUMAQC_ERROR_AGAIN);
    EXPECT_EQ(lumaqc_analyse(ctx, pixels, 16, &result), LUMAQC_ERROR_AGAIN);
    EXPECT_EQ(lumaqc_restart_flickering_period(ctx), LUMAQC_ERROR_AGAIN);
    ASSERT_EQ(lumaqc_receive_result(ctx, &result), LUMAQC_OK);
    EXPECT_EQ(result.frame, 1);
    EXPECT_EQ(lumaqc_restart_flickering_period(ctx), LUMAQC_OK);

    ASSERT_EQ(lumaqc_close(&ctx), LUMAQC_OK);
    EXPECT_EQ(ctx, nullptr);
    const int afterClose[] = {
        lumaqc_analyse(ctx, pixels, 16, &result), lumaqc_get_times(ctx, &times),
        lumaqc_frame_buffer(ctx, &buffer),        lumaqc_get_isa(ctx, &isa),
        lumaqc_send_frame(ctx, pixels, 16),       lumaqc_receive_result(ctx, &result),
        lumaqc_restart_flickering_period(ctx),
    };
    for (int code : afterClose) EXPECT_EQ(code, LUMAQC_ERROR_CLOSED);
    EXPECT_EQ(lumaqc_close(&ctx), LUMAQC_OK);
    for (int code : {LUMAQC_ERROR_NO_MEMORY, LUMAQC_ERROR_BAD_POINTER, LUMAQC_ERROR_INVALID, LUMAQC_ERROR_SIZE,
                     LUMAQC_ERROR_CLOSED, LUMAQC_ERROR_AGAIN, LUMAQC_ERROR_THREADS})
        EXPECT_STRNE(lumaqc_error_text(code), lumaqc_error_text(-1000)) << code;
}

TEST(Api, ColumnNamesFollowTheTable) {
    for (int i = 0; i < LUMAQC_COLUMN_COUNT; ++i) EXPECT_STREQ(lumaqc_column_name(i), columns()[i].name);
    EXPECT_EQ(lumaqc_column_name(-1), nullptr);
    EXPECT_EQ(lumaqc_column_name(LUMAQC_COLUMN_COUNT), nullptr);
}
