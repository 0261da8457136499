// SMPTE labels counted one by one, as a wall clock of nominal frames a second
// that skips labels 0 .. dropped - 1 at each minute but every tenth: the
// reference the timecodes are compared with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct LabelClock {
    int h = 0, m = 0, s = 0, f = 0;
    int nominal = 25, dropped = 0;
    void next() {
        if (++f < nominal) return;
        f = 0;
        if (++s < 60) return;
        s = 0;
        if (++m == 60) m = 0, h = (h + 1) % 24;
        if (m % 10 != 0) f = dropped;
    }
    std::string text() const {
        char t[32];
        std::snprintf(t, sizeof t, "%02d:%02d:%02d%c%02d", h, m, s, dropped > 0 ? ';' : ':', f);
        return t;
    }
    // The label of frame n counted from this one.
    std::string after(int64_t n) const {
        LabelClock c = *this;
        for (int64_t i = 0; i < n; ++i) c.next();
        return c.text();
    }
};
