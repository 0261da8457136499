// A single self-updating progress line: frames done (of the total when known),
// frames per second and the time left.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace lumaqc::report {

class ProgressMeter {
public:
    using Clock = std::function<double()>;                // monotonic seconds
    using Output = std::function<void(std::string_view)>;  // the terminal's error stream

    // total: frames expected, 0 or below when unknown. interval: shortest time
    // between two redraws of the numbers, in seconds.
    ProgressMeter(Clock clock, Output output, int64_t total, double interval = 0.25);

    // Frames done so far; redraws when the interval has passed since the last
    // redraw, or when the line was erased by suspend().
    void update(int64_t done);
    // Erases the line (if shown) so that other text can go to the terminal;
    // the next update draws it again.
    void suspend();
    // Erases the line for good.
    void finish();

    // The text of the line for these numbers (without the carriage return).
    static std::string lineText(int64_t done, int64_t total, double elapsed);

private:
    Clock clock_;
    Output output_;
    int64_t total_;
    double interval_;
    double startTime_;
    double lastDraw_ = 0.0;
    bool drawnOnce_ = false;
    bool shown_ = false;
    bool finished_ = false;
    std::string text_;
};

}  // namespace lumaqc::report
