// Fuzzing the per-frame analysis. The input describes a short clip: a picture
// size (1..80 x 1..80, and on one input in sixteen 248..300 x 248..300, where
// block loss is computed), a frame rate, 1 to 10 frames (3 for the large
// size) built from the input's bytes in ways that reach the indicators'
// special cases (freezes, patches, bars, flat blocks, combing, few grey
// levels), and how the library is driven (allowed instruction sets, row
// stride and padding, reserved scratch or not).
//
// The literal reference compositions run over the clip once. Then every fast
// indicator runs over it in every instruction-set variant this processor
// supports, each with a fresh IndicatorState, and once more switching the
// variant from frame to frame: every value must have the same bits as the
// reference (NaN equal to NaN, as sameResult), the flickering accumulators
// and the freezing and flickering counters must match after every frame, and
// the messages must be the same text. Last, the public C API analyses the
// clip twice, with the fast and with the reference indicators, from padded
// rows of a random stride (padding that differs between the two), on 0 to 3
// threads of the context, frame by frame or pipelined (send and receive):
// every result must equal the reference values of its frame, and the values
// added since 1.0 (read through the value table) must have the same bits in
// both runs.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "indicators/indicators.hpp"
#include "lumaqc/lumaqc.h"
#include "reference/reference.hpp"
#include "simd/isa.hpp"

using namespace lumaqc;

namespace {

// Same bits, except that any NaN equals any NaN (as the exactness tests).
bool sameResult(double a, double b) {
    if (a != a && b != b) return true;
    uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// A picture buffer of exactly the bytes it needs, so that AddressSanitizer
// sees any read past its end (new[0] still gives a distinct pointer).
struct Buffer {
    size_t size;
    std::unique_ptr<uint8_t[]> bytes;
    explicit Buffer(size_t n) : size(n), bytes(new uint8_t[n]()) {}
    Buffer(const Buffer& other) : Buffer(other.size) { std::memcpy(bytes.get(), other.bytes.get(), size); }
    Buffer(Buffer&&) = default;
    Buffer& operator=(Buffer other) {
        size = other.size;
        bytes = std::move(other.bytes);
        return *this;
    }
    uint8_t* data() const { return bytes.get(); }
    bool operator==(const Buffer& other) const {
        return size == other.size && std::memcmp(bytes.get(), other.bytes.get(), size) == 0;
    }
};

struct Clip {
    uint64_t w = 1, h = 1;
    double fps = 25.0;
    std::vector<Buffer> frames;
};

// The values of the indicators of one frame, in one fixed order; the last
// three only from the second frame on.
enum Value { kBlockiness, kSpatial, kLetterbox, kPillarbox, kBlockLoss, kBlur, kExposure, kInterlace, kNoise, kSlice,
             kBlackout, kContrast, kTemporal, kFreezing, kFlickering, kValueCount };
const char* const kValueNames[kValueCount] = {"blockiness", "spatialActivity", "letterbox", "pillarbox", "blockLoss",
                                              "blur", "exposure", "interlace", "noise", "slice", "blackout",
                                              "contrastRMS", "temporalActivity", "freezing", "flickering"};

struct FrameValues {
    double v[kValueCount] = {};
    Buffer counts{0}, states{0};  // flickering accumulators after this frame
    int32_t freezingTemp = 0, frameCount = 0;
};

std::string describe(double v) {
    char text[64];
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::snprintf(text, sizeof text, "%.17g (0x%016llx)", v, static_cast<unsigned long long>(bits));
    return text;
}

const Clip* currentClip = nullptr;

[[noreturn]] void fail(const std::string& what) {
    const Clip& c = *currentClip;
    std::fprintf(stderr, "indicatorsFuzzer: %s\n  clip: %llu x %llu, %zu frames, fps %s\n", what.c_str(),
                 static_cast<unsigned long long>(c.w), static_cast<unsigned long long>(c.h), c.frames.size(),
                 describe(c.fps).c_str());
    std::abort();
}

void expectSame(double got, double want, const std::string& who, size_t frame, int value) {
    if (!sameResult(got, want))
        fail(who + ", frame " + std::to_string(frame) + ", " + kValueNames[value] + ": " + describe(got) +
             ", reference " + describe(want));
}

void collect(void* user, const char* text) { static_cast<std::string*>(user)->append(text); }

// ---------------------------------------------------------------------------
// The clip from the input.

uint8_t clampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void fillFromBytes(FuzzedDataProvider& in, Buffer& p) {
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(p.size);
    if (bytes.empty()) bytes.push_back(in.ConsumeIntegral<uint8_t>());
    for (size_t i = 0; i < p.size; ++i) p.data()[i] = bytes[i % bytes.size()];
}

Buffer nextFrame(FuzzedDataProvider& in, const Buffer* previous, uint64_t w, uint64_t h) {
    Buffer p = previous != nullptr ? Buffer(*previous) : Buffer(static_cast<size_t>(w * h));
    auto at = [&](uint64_t x, uint64_t y) -> uint8_t& { return p.data()[y * w + x]; };
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:  // the same picture again (a freeze); the first frame is flat
            break;
        case 1:  // the input's bytes, repeated
            fillFromBytes(in, p);
            break;
        case 2: {  // a rectangle of the previous picture set or shifted in level
            const uint64_t x0 = in.ConsumeIntegralInRange<uint64_t>(0, w - 1);
            const uint64_t y0 = in.ConsumeIntegralInRange<uint64_t>(0, h - 1);
            const uint64_t rw = in.ConsumeIntegralInRange<uint64_t>(1, w - x0);
            const uint64_t rh = in.ConsumeIntegralInRange<uint64_t>(1, h - y0);
            const bool shift = in.ConsumeBool();
            const uint8_t value = in.ConsumeIntegral<uint8_t>();
            for (uint64_t y = y0; y < y0 + rh; ++y)
                for (uint64_t x = x0; x < x0 + rw; ++x) at(x, y) = shift ? uint8_t(at(x, y) + value) : value;
            break;
        }
        case 3: {  // a ramp between bars at the top and bottom and the sides
            const int a = in.ConsumeIntegralInRange<int>(-4, 4), b = in.ConsumeIntegralInRange<int>(-4, 4);
            const int base = in.ConsumeIntegral<uint8_t>();
            const uint64_t rows = in.ConsumeIntegralInRange<uint64_t>(0, h / 2);
            const uint64_t cols = in.ConsumeIntegralInRange<uint64_t>(0, w / 2);
            const uint8_t bar = in.ConsumeIntegral<uint8_t>();
            for (uint64_t y = 0; y < h; ++y)
                for (uint64_t x = 0; x < w; ++x)
                    at(x, y) = (y < rows || y >= h - rows || x < cols || x >= w - cols)
                                   ? bar
                                   : clampByte(base + a * static_cast<int>(x) + b * static_cast<int>(y));
            break;
        }
        case 4: {  // flat blocks of 4, 8 or 16 pixels, a little noise on top
            const uint64_t size = uint64_t(4) << in.ConsumeIntegralInRange<int>(0, 2);
            const int noise = in.ConsumeIntegralInRange<int>(0, 3);
            std::vector<uint8_t> levels = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 64));
            if (levels.empty()) levels.push_back(128);
            const uint64_t across = (w + size - 1) / size;
            uint32_t state = 12345;
            for (uint64_t y = 0; y < h; ++y)
                for (uint64_t x = 0; x < w; ++x) {
                    state = state * 1103515245u + 12345u;
                    const int jitter = noise == 0 ? 0 : static_cast<int>((state >> 16) % (2 * noise + 1)) - noise;
                    at(x, y) = clampByte(levels[((y / size) * across + x / size) % levels.size()] + jitter);
                }
            break;
        }
        case 5: {  // the previous picture with its odd rows moved sideways (combing)
            const uint64_t s = in.ConsumeIntegralInRange<uint64_t>(1, 8);
            const Buffer before(p);
            for (uint64_t y = 1; y < h; y += 2)
                for (uint64_t x = 0; x < w; ++x) at(x, y) = before.data()[y * w + (x + s) % w];
            break;
        }
    }
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {  // sometimes few grey levels
        case 0: {
            const uint8_t mask = in.ConsumeIntegral<uint8_t>();
            for (size_t i = 0; i < p.size; ++i) p.data()[i] &= mask;
            break;
        }
        case 1: {
            const uint8_t lo = in.ConsumeIntegral<uint8_t>(), span = in.ConsumeIntegralInRange<uint8_t>(0, 8);
            for (size_t i = 0; i < p.size; ++i) p.data()[i] = static_cast<uint8_t>(lo + p.data()[i] % (span + 1));
            break;
        }
        default: break;
    }
    return p;
}

double frameRate(FuzzedDataProvider& in) {
    static const double rates[] = {25.0, 50.0, 29.97, 10.0, 0.0, -1.0, 1e300, 0.5,
                                   std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()};
    const size_t pick = in.ConsumeIntegralInRange<size_t>(0, std::size(rates));
    return pick < std::size(rates) ? rates[pick] : in.ConsumeFloatingPoint<double>();
}

// ---------------------------------------------------------------------------
// The runs.

struct Reference {
    std::vector<FrameValues> frames;
    std::string messages;
};

Reference runReference(const Clip& clip) {
    Reference out;
    const uint64_t gw = clip.w >> 3, gh = clip.h >> 3;
    Buffer counts(gw * gh), states(gw * gh);
    Image countsImage = Image{gw, gh, counts.data()}, statesImage = Image{gw, gh, states.data()};
    int32_t freezingTemp = 0, frameCount = 0;
    const MessageSink sink{collect, &out.messages};
    for (size_t f = 0; f < clip.frames.size(); ++f) {
        const Image cur = Image{clip.w, clip.h, clip.frames[f].data()};
        FrameValues r;
        r.v[kBlockiness] = reference::blockiness(&cur);
        r.v[kSpatial] = reference::spatialActivity(&cur);
        r.v[kLetterbox] = reference::letterbox(&cur);
        r.v[kPillarbox] = reference::pillarbox(&cur);
        r.v[kBlockLoss] = reference::blockLoss(&cur);
        r.v[kBlur] = reference::blur(&cur);
        r.v[kExposure] = reference::exposure(&cur);
        r.v[kInterlace] = reference::interlace(&cur);
        r.v[kNoise] = reference::noise(&cur, sink);
        r.v[kSlice] = reference::slice(&cur);
        const uint8_t black = reference::blackout(&cur);
        r.v[kBlackout] = black;
        r.v[kContrast] = reference::contrastRMS(&cur);
        if (f > 0) {
            const Image prev = Image{clip.w, clip.h, clip.frames[f - 1].data()};
            r.v[kTemporal] = reference::temporalActivity(&cur, &prev);
            r.v[kFreezing] = reference::freezing(black, r.v[kTemporal], clip.fps, freezingTemp);
            r.v[kFlickering] = reference::flickering(&cur, &prev, &countsImage, &statesImage, frameCount);
        }
        r.counts = counts;
        r.states = states;
        r.freezingTemp = freezingTemp;
        r.frameCount = frameCount;
        out.frames.push_back(std::move(r));
    }
    return out;
}

// The fast indicators over the clip; isas[f % size] runs frame f.
void runFast(const Clip& clip, const Reference& want, const std::vector<Isa>& isas, bool reserve) {
    std::string who = "fast";
    for (Isa isa : isas) who += std::string(" ") + isaName(isa);
    if (reserve) who += " with reserved scratch";
    std::string messages;
    IndicatorState s;
    s.messages = MessageSink{collect, &messages};
    if (reserve) reserveScratch(s, clip.w, clip.h);
    const uint64_t gw = clip.w >> 3, gh = clip.h >> 3;
    Buffer counts(gw * gh), states(gw * gh);
    Image countsImage = Image{gw, gh, counts.data()}, statesImage = Image{gw, gh, states.data()};
    for (size_t f = 0; f < clip.frames.size(); ++f) {
        s.isa = isas[f % isas.size()];
        const Image cur = Image{clip.w, clip.h, clip.frames[f].data()};
        const FrameValues& r = want.frames[f];
        expectSame(blockiness(&cur, s), r.v[kBlockiness], who, f, kBlockiness);
        expectSame(spatialActivity(&cur, s), r.v[kSpatial], who, f, kSpatial);
        expectSame(letterbox(&cur, s), r.v[kLetterbox], who, f, kLetterbox);
        expectSame(pillarbox(&cur, s), r.v[kPillarbox], who, f, kPillarbox);
        expectSame(blockLoss(&cur, s), r.v[kBlockLoss], who, f, kBlockLoss);
        expectSame(blur(&cur, s), r.v[kBlur], who, f, kBlur);
        expectSame(exposure(&cur, s), r.v[kExposure], who, f, kExposure);
        expectSame(interlace(&cur, s), r.v[kInterlace], who, f, kInterlace);
        expectSame(noise(&cur, s), r.v[kNoise], who, f, kNoise);
        expectSame(slice(&cur, s), r.v[kSlice], who, f, kSlice);
        const uint8_t black = blackout(&cur, s);
        expectSame(black, r.v[kBlackout], who, f, kBlackout);
        expectSame(contrastRMS(&cur, s), r.v[kContrast], who, f, kContrast);
        if (f == 0) continue;
        const Image prev = Image{clip.w, clip.h, clip.frames[f - 1].data()};
        const double ta = temporalActivity(&cur, &prev, s);
        expectSame(ta, r.v[kTemporal], who, f, kTemporal);
        expectSame(freezing(black, ta, clip.fps, s), r.v[kFreezing], who, f, kFreezing);
        expectSame(flickering(&cur, &prev, &countsImage, &statesImage, s), r.v[kFlickering], who, f, kFlickering);
        if (!(counts == r.counts) || !(states == r.states))
            fail(who + ", frame " + std::to_string(f) + ": flickering accumulators differ from the reference");
        if (s.freezingTemp != r.freezingTemp || s.frameCount != r.frameCount)
            fail(who + ", frame " + std::to_string(f) + ": counters " + std::to_string(s.freezingTemp) + "/" +
                 std::to_string(s.frameCount) + ", reference " + std::to_string(r.freezingTemp) + "/" +
                 std::to_string(r.frameCount));
    }
    if (messages != want.messages) fail(who + ": messages [" + messages + "], reference [" + want.messages + "]");
}

// One result of the C API against the reference values of frame f.
void checkResult(const lumaqc_result& r, const FrameValues& v, const std::string& who, size_t f) {
    if (r.frame != static_cast<int64_t>(f) || r.has_previous != (f > 0 ? 1 : 0))
        fail(who + ", frame " + std::to_string(f) + ": frame " + std::to_string(r.frame) + ", has_previous " +
             std::to_string(r.has_previous));
    expectSame(r.blockiness, v.v[kBlockiness], who, f, kBlockiness);
    expectSame(r.spatial_activity, v.v[kSpatial], who, f, kSpatial);
    expectSame(r.letterbox, v.v[kLetterbox], who, f, kLetterbox);
    expectSame(r.pillarbox, v.v[kPillarbox], who, f, kPillarbox);
    expectSame(r.block_loss, v.v[kBlockLoss], who, f, kBlockLoss);
    expectSame(r.blur, v.v[kBlur], who, f, kBlur);
    expectSame(r.exposure, v.v[kExposure], who, f, kExposure);
    expectSame(r.interlace, v.v[kInterlace], who, f, kInterlace);
    expectSame(r.noise, v.v[kNoise], who, f, kNoise);
    expectSame(r.slice, v.v[kSlice], who, f, kSlice);
    expectSame(r.blackout, v.v[kBlackout], who, f, kBlackout);
    expectSame(r.contrast, v.v[kContrast], who, f, kContrast);
    // Before the second frame the frame-to-frame values are 0.
    expectSame(r.temporal_activity, v.v[kTemporal], who, f, kTemporal);
    expectSame(r.freezing, v.v[kFreezing], who, f, kFreezing);
    expectSame(r.flickering, v.v[kFlickering], who, f, kFlickering);
}

struct ApiRun {
    int indicators = LUMAQC_INDICATORS_FAST;
    uint32_t isaMask = LUMAQC_ISA_ALL;
    size_t padding = 0;
    uint8_t paddingByte = 0;
    bool intoFrameBuffer = false;  // frames written into lumaqc_frame_buffer (lumaqc_analyse only)
    int threads = 0;
    bool pipelined = false;  // lumaqc_send_frame and lumaqc_receive_result instead of lumaqc_analyse
};

// The values added since 1.0 of every frame, in the order of the table, as a
// run of the C API gave them: the fast run's must equal the reference run's.
using AddedValues = std::vector<std::vector<double>>;

std::vector<double> addedValuesOf(const lumaqc_result& r) {
    std::vector<double> values;
    for (int i = kValueCount; i < lumaqc_value_count(); ++i) {
        double v = 0.0;
        if (lumaqc_get_value(&r, i, &v) != LUMAQC_OK) fail("lumaqc_get_value refused value " + std::to_string(i));
        values.push_back(v);
    }
    return values;
}

void expectSameAdded(const AddedValues& got, const AddedValues& want) {
    if (got.size() != want.size()) fail("the runs gave different numbers of frames");
    for (size_t f = 0; f < got.size(); ++f)
        for (size_t i = 0; i < got[f].size(); ++i)
            if (!sameResult(got[f][i], want[f][i]))
                fail(std::string("C API, frame ") + std::to_string(f) + ", " +
                     lumaqc_value_info_at(kValueCount + static_cast<int>(i))->name + ": fast " +
                     describe(got[f][i]) + ", reference " + describe(want[f][i]));
}

// The C API over the clip, every result against the reference values; the
// added values of each frame into added.
void runApi(const Clip& clip, const Reference& want, const ApiRun& run, AddedValues& added) {
    const std::string who =
        std::string("C API, ") + (run.indicators == LUMAQC_INDICATORS_FAST ? "fast" : "reference") +
        " indicators, isa mask " + std::to_string(run.isaMask) + ", stride width + " + std::to_string(run.padding) +
        (run.intoFrameBuffer ? ", into the frame buffer" : "") + ", " + std::to_string(run.threads) + " threads" +
        (run.pipelined ? ", send and receive" : "");
    std::string messages;
    lumaqc_settings settings;
    lumaqc_default_settings(&settings);
    settings.fps = clip.fps;
    settings.isa_mask = run.isaMask;
    settings.indicators = run.indicators;
    settings.message = collect;
    settings.message_user = &messages;
    settings.threads = run.threads;
    lumaqc_context* ctx = nullptr;
    const int opened = lumaqc_open(&ctx, static_cast<int32_t>(clip.w), static_cast<int32_t>(clip.h), &settings);
    if (opened != LUMAQC_OK) fail(who + ": lumaqc_open returned " + std::to_string(opened));
    const size_t stride = clip.w + run.padding;
    size_t received = 0;
    auto receive = [&] {
        lumaqc_result r;
        const int status = lumaqc_receive_result(ctx, &r);
        if (status != LUMAQC_OK) fail(who + ": lumaqc_receive_result returned " + std::to_string(status));
        if (received >= clip.frames.size()) fail(who + ": more results than frames");
        checkResult(r, want.frames[received], who, received);
        added.push_back(addedValuesOf(r));
        ++received;
    };
    for (size_t f = 0; f < clip.frames.size(); ++f) {
        const uint8_t* luma;
        ptrdiff_t lumaStride;
        // The last row ends the buffer: nothing beyond the width of it is there.
        Buffer rows((clip.h - 1) * stride + clip.w);
        if (run.intoFrameBuffer && !run.pipelined) {
            uint8_t* buffer = nullptr;
            if (lumaqc_frame_buffer(ctx, &buffer) != LUMAQC_OK) fail(who + ": lumaqc_frame_buffer failed");
            std::memcpy(buffer, clip.frames[f].data(), clip.frames[f].size);
            luma = buffer;
            lumaStride = static_cast<ptrdiff_t>(clip.w);
        } else {
            std::memset(rows.data(), run.paddingByte, rows.size);
            for (uint64_t y = 0; y < clip.h; ++y)
                std::memcpy(rows.data() + y * stride, clip.frames[f].data() + y * clip.w, clip.w);
            luma = rows.data();
            lumaStride = static_cast<ptrdiff_t>(stride);
        }
        if (run.pipelined) {
            int status;
            while ((status = lumaqc_send_frame(ctx, luma, lumaStride)) == LUMAQC_ERROR_AGAIN) receive();
            if (status != LUMAQC_OK) fail(who + ": lumaqc_send_frame returned " + std::to_string(status));
        } else {
            lumaqc_result r;
            const int status = lumaqc_analyse(ctx, luma, lumaStride, &r);
            if (status != LUMAQC_OK) fail(who + ": lumaqc_analyse returned " + std::to_string(status));
            checkResult(r, want.frames[f], who, f);
            added.push_back(addedValuesOf(r));
        }
    }
    if (run.pipelined) {
        while (received < clip.frames.size()) receive();
        lumaqc_result r;
        if (lumaqc_receive_result(ctx, &r) != LUMAQC_ERROR_AGAIN) fail(who + ": a result with no frame in flight");
    }
    lumaqc_close(&ctx);
    if (ctx != nullptr) fail(who + ": lumaqc_close left the context set");
    if (messages != want.messages) fail(who + ": messages [" + messages + "], reference [" + want.messages + "]");
}

std::vector<Isa> runnableIsas() {
    std::vector<Isa> out;
    for (Isa isa : {Isa::Generic, Isa::Avx2, Isa::Avx512})
        if (isaSupported(isa)) out.push_back(isa);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Clip clip;
    currentClip = &clip;
    const bool large = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    clip.w = large ? in.ConsumeIntegralInRange<uint64_t>(248, 300) : in.ConsumeIntegralInRange<uint64_t>(1, 80);
    clip.h = large ? in.ConsumeIntegralInRange<uint64_t>(248, 300) : in.ConsumeIntegralInRange<uint64_t>(1, 80);
    clip.fps = frameRate(in);
    const size_t frames = in.ConsumeIntegralInRange<size_t>(1, large ? 3 : 10);
    ApiRun fast;
    fast.isaMask = in.ConsumeIntegralInRange<uint32_t>(LUMAQC_ISA_GENERIC, LUMAQC_ISA_ALL);
    const bool reserve = in.ConsumeBool();
    fast.padding = in.ConsumeIntegralInRange<size_t>(0, 40);
    fast.paddingByte = in.ConsumeIntegral<uint8_t>();
    fast.intoFrameBuffer = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    fast.threads = in.ConsumeIntegralInRange<int>(0, 3);
    fast.pipelined = in.ConsumeBool();
    for (size_t f = 0; f < frames; ++f)
        clip.frames.push_back(nextFrame(in, f > 0 ? &clip.frames[f - 1] : nullptr, clip.w, clip.h));

    const Reference want = runReference(clip);
    const std::vector<Isa> isas = runnableIsas();
    for (Isa isa : isas) runFast(clip, want, {isa}, reserve);
    if (isas.size() > 1 && frames > 1) runFast(clip, want, isas, !reserve);
    // The two contexts read different padding: neither may read any.
    AddedValues fastAdded, referenceAdded;
    runApi(clip, want, fast, fastAdded);
    ApiRun reference = fast;
    reference.indicators = LUMAQC_INDICATORS_REFERENCE;
    reference.paddingByte = static_cast<uint8_t>(~fast.paddingByte);
    reference.intoFrameBuffer = false;
    runApi(clip, want, reference, referenceAdded);
    expectSameAdded(fastAdded, referenceAdded);
    currentClip = nullptr;
    return 0;
}
