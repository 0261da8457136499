#include "report/progress.hpp"

#include <cmath>
#include <cstdio>

namespace lumaqc::report {

// Carriage return and "erase to the end of the line".
static constexpr std::string_view kErase = "\r\033[K";

ProgressMeter::ProgressMeter(Clock clock, Output output, int64_t total, double interval)
    : clock_(std::move(clock)), output_(std::move(output)), total_(total), interval_(interval) {
    startTime_ = clock_();
}

static std::string clockText(double seconds) {
    char text[64];
    if (!(seconds >= 0.0 && seconds < 1e9)) return "?";
    const auto s = static_cast<long long>(seconds + 0.5);
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

std::string ProgressMeter::lineText(int64_t done, int64_t total, double elapsed) {
    char text[160];
    const double rate = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    if (total > 0) {
        const double share = 100.0 * static_cast<double>(done) / static_cast<double>(total);
        const double left = rate > 0.0 ? static_cast<double>(total - done) / rate : -1.0;
        std::snprintf(text, sizeof text, "frame %lld of %lld (%.1f%%), %.1f fps, %s left",
                      static_cast<long long>(done), static_cast<long long>(total), share, rate,
                      clockText(left).c_str());
    } else {
        std::snprintf(text, sizeof text, "frame %lld, %.1f fps", static_cast<long long>(done), rate);
    }
    return text;
}

void ProgressMeter::update(int64_t done) {
    if (finished_) return;
    const double now = clock_();
    if (!drawnOnce_ || now - lastDraw_ >= interval_) {
        text_ = lineText(done, total_, now - startTime_);
        lastDraw_ = now;
        drawnOnce_ = true;
    } else if (shown_) {
        return;
    }
    std::string line(kErase);
    line += text_;
    output_(line);
    shown_ = true;
}

void ProgressMeter::suspend() {
    if (!shown_) return;
    output_(kErase);
    shown_ = false;
}

void ProgressMeter::finish() {
    suspend();
    finished_ = true;
}

}  // namespace lumaqc::report
