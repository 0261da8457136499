// The size checks of the toolkit's operators. An operator that checks sizes
// returns a SizeCheck: empty when the sizes fit, else the condition that did
// not hold and the operator's name; a failed check writes nothing.
#pragma once

namespace lumaqc {

struct [[nodiscard]] SizeCheck {
    const char* condition = nullptr;
    const char* function = nullptr;
    bool ok() const { return condition == nullptr; }
};

// Gathers the checks of a composition whose pictures are sized for its
// operators, so that a failure is seen rather than assumed impossible.
struct SizeChecks {
    bool allOk = true;
    void operator+=(SizeCheck check) { allOk = allOk && check.ok(); }
};

#define TOOLKIT_CHECK(expr, text, function)                \
    do {                                                   \
        if (!(expr)) return SizeCheck{(text), (function)}; \
    } while (0)

}  // namespace lumaqc
