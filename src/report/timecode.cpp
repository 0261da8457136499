#include "report/timecode.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumaqc::report {

// Labels dropped at the start of each minute but every tenth.
static int64_t droppedPerMinute(TimecodeRate rate) { return rate.dropFrame ? rate.nominal / 15 : 0; }

TimecodeRate timecodeRate(double fps) {
    TimecodeRate rate;
    if (!(fps > 0.0 && fps < 1e6)) return rate;
    rate.nominal = std::max<int64_t>(1, std::llround(fps));
    rate.dropFrame = (rate.nominal == 30 || rate.nominal == 60) &&
                     std::fabs(fps - static_cast<double>(rate.nominal) * 1000.0 / 1001.0) < 1e-3;
    return rate;
}

int64_t timecodeFrames(const std::string& text, TimecodeRate rate) {
    int hours = 0, minutes = 0, seconds = 0, frames = 0, used = 0;
    char separator = 0;
    if (std::sscanf(text.c_str(), "%2d:%2d:%2d%c%3d%n", &hours, &minutes, &seconds, &separator, &frames, &used) != 5 ||
        static_cast<size_t>(used) != text.size() || hours < 0 || hours > 23 || minutes < 0 || minutes > 59 ||
        seconds < 0 || seconds > 59 || frames < 0 || frames >= rate.nominal)
        return -1;
    const bool drop = rate.dropFrame && separator != ':';
    if (separator != ':' && separator != ';' && separator != '.' && separator != ',') return -1;
    const int64_t allMinutes = int64_t{hours} * 60 + minutes;
    const int64_t dropped = drop ? droppedPerMinute(rate) : 0;
    if (drop && seconds == 0 && minutes % 10 != 0 && frames < dropped) return -1;  // a label that does not exist
    return (int64_t{hours} * 3600 + int64_t{minutes} * 60 + seconds) * rate.nominal + frames -
           dropped * (allMinutes - allMinutes / 10);
}

std::string timecodeText(int64_t frames, TimecodeRate rate) {
    const int64_t dropped = rate.dropFrame ? droppedPerMinute(rate) : 0;
    const int64_t perMinute = rate.nominal * 60 - dropped;
    const int64_t perTenMinutes = perMinute * 10 + dropped;
    const int64_t perDay = perTenMinutes * 6 * 24;
    int64_t n = frames > 0 ? frames % perDay : 0;
    if (dropped > 0) {
        // Back to the count of labels, as if none were skipped.
        const int64_t tens = n / perTenMinutes, rest = n % perTenMinutes;
        n += 9 * dropped * tens + (rest > dropped ? dropped * ((rest - dropped) / perMinute) : 0);
    }
    const int64_t ff = n % rate.nominal, totalSeconds = n / rate.nominal;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%02lld", static_cast<long long>(totalSeconds / 3600),
                  static_cast<long long>(totalSeconds / 60 % 60), static_cast<long long>(totalSeconds % 60),
                  dropped > 0 ? ';' : ':', static_cast<long long>(ff));
    return text;
}

}  // namespace lumaqc::report
