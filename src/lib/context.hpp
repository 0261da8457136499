// The per-stream context behind the public API: every picture, counter and
// scratch buffer one stream of frames needs, allocated when it opens.
//
// Frames pass through a ring of slots. The work that needs no history (the
// picture indicators and temporal activity, which reads the slot of
// the frame before, and, on the one pass, flickering's changed blocks) runs on
// any thread; freezing and flickering's block states, which carry state from
// frame to frame, run when results are received, in frame order.
// Without threads both happen on the caller's thread, frame by frame.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "indicators/indicators.hpp"
#include "lumaqc/lumaqc.h"
#include "reference/reference.hpp"
#include "tools/pictures.hpp"

namespace lumaqc {

class Stream {
public:
    // *status receives LUMAQC_OK or a negative error code; sizes and settings
    // are checked by the caller.
    Stream(int32_t width, int32_t height, const lumaqc_settings& settings, Isa isa, int* status);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    int32_t width() const { return width_; }
    Isa isa() const { return serial_.isa; }
    int64_t inFlight() const { return sent_ - received_; }

    // The buffer of the next frame to send, allocated on its first use:
    // LUMAQC_OK, AGAIN while it is still in use, NO_MEMORY.
    int frameBuffer(uint8_t** buffer);
    // stride >= width is checked by the caller.
    int send(const uint8_t* luma, ptrdiff_t stride);
    int receive(lumaqc_result* result);
    void restartFlickeringPeriod();
    lumaqc_times times() const;

private:
    struct Slot {
        Image picture{};
        lumaqc_result values{};
        bool done = false;
        std::vector<uint8_t> flashCodes;  // the one pass's block means for the flash screening
        std::vector<uint8_t> flickerChanges;  // the one pass's changed blocks for flickering
    };
    struct Worker {
        IndicatorState state;
        lumaqc_times times{};
        std::thread thread;
    };

    Slot& slotOf(int64_t frame) { return slots_[static_cast<size_t>(frame % static_cast<int64_t>(slots_.size()))]; }
    // The picture indicators and temporal activity of one frame.
    void computePictureParts(int64_t frame, IndicatorState& state, lumaqc_times& times, bool threadClock);
    // Freezing and flickering of the oldest frame, in frame order.
    void applyFrameToFrame(int64_t frame, lumaqc_result& r);
    void workerLoop(Worker& worker);
    // The scratch of the indicators and flickering's accumulators, reserved
    // with the first frame sent: opening a stream allocates nothing frame-sized.
    bool reserveForFrames();
    static void serialisedMessage(void* user, const char* text);

    int32_t width_;
    int32_t height_;
    double fps_;
    bool reference_;
    bool measure_;
    // The fast indicators run as one pass over bands of rows
    // (indicators/fused.hpp) unless the settings ask for each indicator to walk
    // the picture on its own (kept for benchmarks and comparisons).
    bool perIndicator_;
    std::vector<Slot> slots_;
    Image flickerCounts_{};  // switch counts per 8 x 8 block
    Image flickerStates_{};  // still (0) or changing (1) per 8 x 8 block
    // State of the caller's thread: the counters of freezing and flickering,
    // and the scratch of the indicators when there are no threads.
    IndicatorState serial_;
    int32_t referenceFreezingTemp_ = 0;
    int32_t referenceFrameCount_ = 0;
    lumaqc_times serialTimes_{};
    // The values that persist until the frame-to-frame indicators run again.
    double temporalActivity_ = 0.0;
    uint8_t freezing_ = 0;
    double flickering_ = 0.0;
    // The flash screening's state, fast and literal.
    FlashState flashState_;
    reference::FlashHistory referenceFlashes_;

    int64_t sent_ = 0;
    int64_t received_ = 0;
    int64_t started_ = 0;  // frames a worker has taken
    std::vector<Worker> workers_;
    mutable std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable workDone_;
    std::mutex messageMutex_;
    MessageSink userMessages_;
    bool stopping_ = false;
    bool reserved_ = false;
};

}  // namespace lumaqc

// The opaque handle of the public API.
struct lumaqc_context {
    lumaqc::Stream stream;
    lumaqc_context(int32_t width, int32_t height, const lumaqc_settings& settings, lumaqc::Isa isa, int* status)
        : stream(width, height, settings, isa, status) {}
};
