#include "lib/context.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <system_error>

#include "indicators/fused.hpp"
#include "lib/values.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// A zero-filled plane of w x h bytes that lives for the stream: aligned to a
// cache line, and to a huge page when it is large enough to use them.
Image allocatePlane(uint64_t w, uint64_t h) {
    const size_t bytes = static_cast<size_t>(w * h);
    const size_t alignment = bytes >= kHugePage ? kHugePage : 64;
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void* data = nullptr;
    if (rounded == 0 || posix_memalign(&data, alignment, rounded) != 0) return Image{w, h, nullptr};
#ifdef MADV_HUGEPAGE
    if (alignment == kHugePage) madvise(data, rounded, MADV_HUGEPAGE);
#endif
    std::memset(data, 0, rounded);
    return Image{w, h, static_cast<uint8_t*>(data)};
}

// Processor time in clock ticks (microseconds): the process's, or the
// calling thread's when frames are analysed on several threads.
int64_t cpuTicks(bool threadClock) {
    if (!threadClock) return static_cast<int64_t>(clock());
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

template <typename Call>
auto timed(bool measure, bool threadClock, lumaqc_times& times, lumaqc_indicator which, Call&& call) {
    if (!measure) return call();
    const int64_t before = cpuTicks(threadClock);
    auto result = call();
    const int64_t after = cpuTicks(threadClock);
    // The difference is taken in ticks, so long runs keep their resolution.
    times.seconds[which] += static_cast<float>(after - before) / 1000000.0f;
    return result;
}

// Calls the picture indicators of the table that run here, in their order:
// the literal compositions, or the fast entry points (those of the one-pass
// analysis too when onlyAlone is false).
template <bool kReference>
void pictureIndicators(const Image* cur, const Image* prev, IndicatorState& s, lumaqc_result& r, bool measure,
                       bool threadClock, lumaqc_times& t, bool onlyAlone = false) {
    for (const ValueEntry& e : kValueEntries) {
        if (e.stage == Stage::Sequence || (e.stage == Stage::Pair && prev == nullptr) || (onlyAlone && e.inPass) ||
            addedValueSkipped(e.added, s.skipAdded))
            continue;
        const ValueCall call = kReference ? e.literal : e.fast;
        timed(measure, threadClock, t, e.indicator, [&] {
            call(cur, prev, s, r);
            return 0;
        });
    }
}

// The one-pass analysis. With measure, the processor time of the whole pass
// is taken once and shared out among the indicators in proportion to the
// cycle counts of their parts of it.
void onePass(const Image* cur, const Image* prev, IndicatorState& s, lumaqc_result& r, bool measure,
             bool threadClock, lumaqc_times& t) {
    if (!measure) {
        analysePicture(cur, prev, s, r, nullptr);
        return;
    }
    uint64_t cycles[LUMAQC_INDICATOR_COUNT];
    const int64_t before = cpuTicks(threadClock);
    analysePicture(cur, prev, s, r, cycles);
    const int64_t after = cpuTicks(threadClock);
    uint64_t total = 0;
    for (uint64_t c : cycles) total += c;
    if (total == 0) return;
    const double seconds = static_cast<double>(after - before) / 1000000.0;
    for (int i = 0; i < LUMAQC_INDICATOR_COUNT; ++i)
        t.seconds[i] += static_cast<float>(seconds * (static_cast<double>(cycles[i]) / static_cast<double>(total)));
}

// The one-pass analysis, then the picture indicators outside it.
void fusedIndicators(const Image* cur, const Image* prev, IndicatorState& s, lumaqc_result& r, bool measure,
                     bool threadClock, lumaqc_times& t) {
    onePass(cur, prev, s, r, measure, threadClock, t);
    pictureIndicators<false>(cur, prev, s, r, measure, threadClock, t, true);
}

}  // namespace

Stream::Stream(int32_t width, int32_t height, const lumaqc_settings& settings, Isa isa, int* status)
    : width_(width),
      height_(height),
      fps_(settings.fps),
      reference_(settings.indicators == LUMAQC_INDICATORS_REFERENCE),
      measure_(settings.measure_time != 0),
      perIndicator_(settings.analysis_path == LUMAQC_PATH_PER_INDICATOR),
      userMessages_{settings.message, settings.message_user} {
    *status = LUMAQC_ERROR_NO_MEMORY;
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = static_cast<uint64_t>(height);
    // Frames in flight: one more than the threads, so that reading the next
    // frame overlaps the analysis; one more slot for the picture before. The
    // pictures of all the slots stay within the memory budget: fewer threads
    // run when they would not (the values do not depend on the threads).
    const int64_t budget = settings.memory_budget > 0 ? settings.memory_budget : LUMAQC_DEFAULT_MEMORY_BUDGET;
    const uint64_t pictures = std::max<uint64_t>(2, static_cast<uint64_t>(budget) / (w * h));
    const uint64_t asked = settings.threads > 1 ? static_cast<uint64_t>(settings.threads) : 0;
    const int threads = static_cast<int>(std::min(asked, pictures - 2));
    const size_t inFlight = threads > 0 ? static_cast<size_t>(threads) + 1 : 1;
    serial_.isa = isa;
    serial_.messages = userMessages_;
    // Bits of no group skip every added value.
    const uint32_t groups =
        LUMAQC_SKIP_ADDED_ALL | LUMAQC_SKIP_EVENT_VALUES | LUMAQC_SKIP_LEVEL_VALUES | LUMAQC_SKIP_FLASH_VALUES;
    const uint32_t skip = static_cast<uint32_t>(settings.skip_added_values);
    serial_.skipAdded = (skip & ~groups) != 0 ? LUMAQC_SKIP_ADDED_ALL : skip;
    serial_.range = LumaRange{static_cast<uint8_t>(settings.range_low), static_cast<uint8_t>(settings.range_high)};
    try {
        // The pictures and the scratch are allocated when frames arrive.
        slots_.resize(inFlight + 1);
        workers_ = std::vector<Worker>(static_cast<size_t>(threads));
        for (Worker& worker : workers_) {
            worker.state.isa = isa;
            worker.state.skipAdded = serial_.skipAdded;
            worker.state.range = serial_.range;
            worker.state.messages = MessageSink{serialisedMessage, this};
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    try {
        for (Worker& worker : workers_) worker.thread = std::thread([this, &worker] { workerLoop(worker); });
    } catch (const std::system_error&) {
        *status = LUMAQC_ERROR_THREADS;
        return;
    }
    *status = LUMAQC_OK;
}

Stream::~Stream() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (Worker& worker : workers_)
        if (worker.thread.joinable()) worker.thread.join();
    for (Slot& slot : slots_) freeImage(&slot.picture);
    freeImage(&flickerCounts_);
    freeImage(&flickerStates_);
}

void Stream::serialisedMessage(void* user, const char* text) {
    Stream* stream = static_cast<Stream*>(user);
    std::lock_guard<std::mutex> lock(stream->messageMutex_);
    stream->userMessages_.send(text);
}

bool Stream::reserveForFrames() {
    if (reserved_) return true;
    const uint64_t w = static_cast<uint64_t>(width_);
    const uint64_t h = static_cast<uint64_t>(height_);
    try {
        if (workers_.empty()) reserveScratch(serial_, w, h);
        // Flickering runs on the caller's thread in every case.
        reserveFlickering(serial_.flickering, w, h);
        for (Worker& worker : workers_) reserveScratch(worker.state, w, h);
    } catch (const std::bad_alloc&) {
        return false;
    }
    try {
        if (!reference_ && !perIndicator_)
            for (Slot& slot : slots_) slot.flickerChanges.assign((w >> 3) * (h >> 3), 0);
        if (!skipsAdded(serial_, LUMAQC_SKIP_FLASH_VALUES)) {
            const uint64_t blocks = (w / BLOCKSIZE) * (h / BLOCKSIZE);
            if (!reference_) {
                reserveFlashes(flashState_, w, h, fps_, serial_.isa);
                for (Slot& slot : slots_) slot.flashCodes.assign(blocks, 0);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (flickerCounts_.data == nullptr) flickerCounts_ = callocImage(w >> 3, h >> 3);
    if (flickerStates_.data == nullptr) flickerStates_ = callocImage(w >> 3, h >> 3);
    if ((w >> 3) * (h >> 3) != 0 && (flickerCounts_.data == nullptr || flickerStates_.data == nullptr)) return false;
    reserved_ = true;
    return true;
}

int Stream::frameBuffer(uint8_t** buffer) {
    if (sent_ - received_ >= static_cast<int64_t>(slots_.size()) - 1) return LUMAQC_ERROR_AGAIN;
    Slot& slot = slotOf(sent_);
    if (slot.picture.data == nullptr) slot.picture = allocatePlane(static_cast<uint64_t>(width_), static_cast<uint64_t>(height_));
    if (slot.picture.data == nullptr) return LUMAQC_ERROR_NO_MEMORY;
    *buffer = slot.picture.data;
    return LUMAQC_OK;
}

int Stream::send(const uint8_t* luma, ptrdiff_t stride) {
    if (sent_ - received_ >= static_cast<int64_t>(slots_.size()) - 1) return LUMAQC_ERROR_AGAIN;
    uint8_t* buffer = nullptr;
    if (const int status = frameBuffer(&buffer); status != LUMAQC_OK) return status;
    if (!reserveForFrames()) return LUMAQC_ERROR_NO_MEMORY;
    Slot& slot = slotOf(sent_);
    const size_t w = static_cast<size_t>(width_);
    if (luma != slot.picture.data || stride != static_cast<ptrdiff_t>(w)) {
        for (int32_t y = 0; y < height_; ++y)
            std::memcpy(slot.picture.data + static_cast<size_t>(y) * w, luma + static_cast<ptrdiff_t>(y) * stride, w);
    }
    slot.done = false;
    slot.values = lumaqc_result{};
    if (serial_.skipAdded != 0) markAddedValuesSkipped(slot.values, serial_.skipAdded);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++sent_;
    }
    if (!workers_.empty()) workReady_.notify_one();
    return LUMAQC_OK;
}

void Stream::computePictureParts(int64_t frame, IndicatorState& state, lumaqc_times& times, bool threadClock) {
    Slot& slot = slotOf(frame);
    const Image* prev = frame > 0 ? &slotOf(frame - 1).picture : nullptr;
    if (reference_)
        pictureIndicators<true>(&slot.picture, prev, state, slot.values, measure_, threadClock, times);
    else if (perIndicator_)
        pictureIndicators<false>(&slot.picture, prev, state, slot.values, measure_, threadClock, times);
    else {
        state.flashCodes = slot.flashCodes.empty() ? nullptr : slot.flashCodes.data();
        state.flickerChanges = prev != nullptr && !slot.flickerChanges.empty() ? slot.flickerChanges.data() : nullptr;
        fusedIndicators(&slot.picture, prev, state, slot.values, measure_, threadClock, times);
    }
}

void Stream::applyFrameToFrame(int64_t frame, lumaqc_result& r) {
    // The frame-to-frame indicators start with the second frame; until they
    // run again their values stay.
    if (frame > 0) {
        const bool threadClock = !workers_.empty();
        Image* cur = &slotOf(frame).picture;
        Image* prev = &slotOf(frame - 1).picture;
        temporalActivity_ = r.temporal_activity;
        freezing_ = timed(measure_, threadClock, serialTimes_, LUMAQC_FREEZING, [&] {
            return reference_ ? reference::freezing(r.blackout, temporalActivity_, fps_, referenceFreezingTemp_)
                              : freezing(r.blackout, temporalActivity_, fps_, serial_);
        });
        flickering_ = timed(measure_, threadClock, serialTimes_, LUMAQC_FLICKERING, [&] {
            return reference_
                       ? reference::flickering(cur, prev, &flickerCounts_, &flickerStates_, referenceFrameCount_)
                   : perIndicator_ || slotOf(frame).flickerChanges.empty()
                       ? flickering(cur, prev, &flickerCounts_, &flickerStates_, serial_)
                       : flickeringFromChanges(slotOf(frame).flickerChanges.data(), &flickerCounts_, &flickerStates_,
                                               serial_);
        });
    }
    if (!skipsAdded(serial_, LUMAQC_SKIP_FLASH_VALUES)) {
        const FlashValues flash = timed(measure_, !workers_.empty(), serialTimes_, LUMAQC_FLASH_AREA, [&] {
            Slot& slot = slotOf(frame);
            if (reference_) return reference::flashes(&slot.picture, referenceFlashes_, fps_);
            // The per-indicator path forms the block means here; the one pass has.
            if (perIndicator_) flashBlockCodes(&slot.picture, slot.flashCodes.data());
            return flashes(slot.flashCodes.data(), flashState_);
        });
        r.flash_area = flash.area;
        r.flashes_per_second = flash.rate;
    }
    r.frame = frame;
    r.has_previous = frame > 0 ? 1 : 0;
    r.temporal_activity = temporalActivity_;
    r.freezing = freezing_;
    r.flickering = flickering_;
}

int Stream::receive(lumaqc_result* result) {
    if (received_ == sent_) return LUMAQC_ERROR_AGAIN;
    const int64_t frame = received_;
    Slot& slot = slotOf(frame);
    if (workers_.empty()) {
        computePictureParts(frame, serial_, serialTimes_, false);
    } else {
        std::unique_lock<std::mutex> lock(mutex_);
        workDone_.wait(lock, [&] { return slot.done; });
    }
    lumaqc_result r = slot.values;
    applyFrameToFrame(frame, r);
    *result = r;
    ++received_;
    return LUMAQC_OK;
}

void Stream::workerLoop(Worker& worker) {
    for (;;) {
        int64_t frame = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            workReady_.wait(lock, [&] { return stopping_ || started_ < sent_; });
            if (stopping_) return;
            frame = started_++;
        }
        lumaqc_times local{};
        computePictureParts(frame, worker.state, local, true);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slotOf(frame).done = true;
            for (int i = 0; i < LUMAQC_INDICATOR_COUNT; ++i) worker.times.seconds[i] += local.seconds[i];
        }
        workDone_.notify_all();
    }
}

void Stream::restartFlickeringPeriod() {
    const uint64_t blocks = flickerCounts_.w * flickerCounts_.h;
    if (blocks != 0) {
        std::memset(flickerCounts_.data, 0, blocks);
        std::memset(flickerStates_.data, 0, blocks);
    }
    serial_.frameCount = 0;
    referenceFrameCount_ = 0;
}

lumaqc_times Stream::times() const {
    lumaqc_times sum = serialTimes_;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Worker& worker : workers_)
        for (int i = 0; i < LUMAQC_INDICATOR_COUNT; ++i) sum.seconds[i] += worker.times.seconds[i];
    return sum;
}

}  // namespace lumaqc
