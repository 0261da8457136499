#include "lib/values.hpp"

#include <cstring>
#include <type_traits>

#include "reference/reference.hpp"

namespace lumaqc {

namespace {

// The fast entry points take the stream's state, temporal activity also the
// picture before.
template <class Call, class Store>
void callFast(const Image* cur, const Image* prev, IndicatorState& state, lumaqc_result& r) {
    if constexpr (std::is_invocable_v<Call, const Image*, const Image*, IndicatorState&>)
        Store{}(r, Call{}(cur, prev, state));
    else
        Store{}(r, Call{}(cur, state));
}

// The literal ones take the picture (and the one before), noise also where
// its messages go, the range fractions the legal range.
template <class Call, class Store>
void callLiteral(const Image* cur, const Image* prev, IndicatorState& state, lumaqc_result& r) {
    if constexpr (std::is_invocable_v<Call, const Image*, const Image*>)
        Store{}(r, Call{}(cur, prev));
    else if constexpr (std::is_invocable_v<Call, const Image*, const MessageSink&>)
        Store{}(r, Call{}(cur, state.messages));
    else if constexpr (std::is_invocable_v<Call, const Image*, const LumaRange&>)
        Store{}(r, Call{}(cur, state.range));
    else
        Store{}(r, Call{}(cur));
}

template <Stage kStage, class Fast, class Literal, class Store>
constexpr ValueEntry entry(lumaqc_indicator indicator, bool inPass, Fast, Literal, Store) {
    const uint32_t added = addedGroupOf(static_cast<int>(indicator));
    if constexpr (kStage == Stage::Sequence)
        return {indicator, kStage, inPass, added, nullptr, nullptr};
    else
        return {indicator, kStage, inPass, added, &callFast<Fast, Store>, &callLiteral<Literal, Store>};
}

#define LUMAQC_STAGE_PICTURE Stage::Picture
#define LUMAQC_STAGE_PAIR Stage::Pair
#define LUMAQC_STAGE_SEQUENCE Stage::Sequence
#define LUMAQC_PASS_IN_PASS true
#define LUMAQC_PASS_ALONE false

#define LUMAQC_ENTRY(NAME, field, KIND, indicator, timingPosition, STAGE, PASS, NOT_COMPUTED, minWidth, minHeight,    \
                     POOLING, consoleHeader, logHeader, consoleFormat, logFormat, timingFormat, fast, literal,        \
                     OUTPUTS, NOTHING_MEASURED)                                                                       \
    entry<LUMAQC_STAGE_##STAGE>(                                                                                      \
        LUMAQC_##NAME, LUMAQC_PASS_##PASS, [](auto&&... a) -> decltype(fast(a...)) { return fast(a...); },            \
        [](auto&&... a) -> decltype(reference::literal(a...)) { return reference::literal(a...); },                   \
        [](lumaqc_result& r, auto v) { r.field = v; }),

constexpr std::array<ValueEntry, kValueCount> inCallOrder(const std::array<ValueEntry, kValueCount>& columns) {
    std::array<ValueEntry, kValueCount> ordered{};
    for (const ValueEntry& e : columns) ordered[static_cast<size_t>(e.indicator)] = e;
    return ordered;
}

constexpr std::array<ValueEntry, kValueCount> kEntriesInColumnOrder = {{LUMAQC_VALUES(LUMAQC_ENTRY)}};

#define LUMAQC_INFO(NAME, field, KIND, indicator, timingPosition, STAGE, PASS, NOT_COMPUTED, minWidth, minHeight,     \
                    POOLING, consoleHeader, logHeader, consoleFormat, logFormat, timingFormat, fast, literal,         \
                    OUTPUTS, NOTHING_MEASURED)                                                                        \
    lumaqc_value_info{#field,         LUMAQC_KIND_##KIND, offsetof(lumaqc_result, field),                             \
                      indicator,      consoleHeader,      logHeader,                                                  \
                      consoleFormat,  logFormat,          timingFormat,                                               \
                      timingPosition, LUMAQC_NOT_COMPUTED_##NOT_COMPUTED, minWidth,                                   \
                      minHeight,      LUMAQC_POOLING_##POOLING, LUMAQC_OUTPUTS_##OUTPUTS,                             \
                      LUMAQC_NOTHING_MEASURED_##NOTHING_MEASURED},

constexpr std::array<lumaqc_value_info, kValueCount> kInfos = {{LUMAQC_VALUES(LUMAQC_INFO)}};

// Each indicator number and each place in the timing report exactly once.
constexpr bool isPermutation(int (*of)(const lumaqc_value_info&)) {
    std::array<bool, kValueCount> seen{};
    for (const lumaqc_value_info& v : kInfos) {
        const int i = of(v);
        if (i < 0 || static_cast<size_t>(i) >= kValueCount || seen[static_cast<size_t>(i)]) return false;
        seen[static_cast<size_t>(i)] = true;
    }
    return true;
}
static_assert(isPermutation([](const lumaqc_value_info& v) { return v.indicator; }),
              "every indicator number 0 .. LUMAQC_INDICATOR_COUNT - 1 once");
static_assert(isPermutation([](const lumaqc_value_info& v) { return v.timing_position; }),
              "every place of the timing report once");

// The values of 1.0 show everywhere; the added ones in the reports only, with
// empty texts, so that a program that prints every value's texts prints the
// same rows and timing report.
constexpr bool addedValuesShowInReportsOnly() {
    for (const lumaqc_value_info& v : kInfos) {
        const bool added = v.indicator >= kValueCount1_0;
        if (v.outputs != (added ? LUMAQC_OUTPUTS_REPORTS : LUMAQC_OUTPUTS_ALL)) return false;
        if (added && (v.console_header[0] != '\0' || v.log_header[0] != '\0' || v.console_format[0] != '\0' ||
                      v.log_format[0] != '\0' || v.timing_format[0] != '\0'))
            return false;
    }
    return true;
}
static_assert(addedValuesShowInReportsOnly(), "the added values show in the reports only, with empty texts");

}  // namespace

const std::array<lumaqc_value_info, kValueCount> kValueInfos = kInfos;
const std::array<ValueEntry, kValueCount> kValueEntries = inCallOrder(kEntriesInColumnOrder);

void markAddedValuesSkipped(lumaqc_result& r, uint32_t skip) {
    const double nan = __builtin_nan("");
    char* bytes = reinterpret_cast<char*>(&r);
    for (const lumaqc_value_info& v : kInfos) {
        if (!addedValueSkipped(addedGroupOf(v.indicator), skip)) continue;
        if (v.kind == LUMAQC_KIND_FLAG) bytes[v.offset] = 0;
        else std::memcpy(bytes + v.offset, &nan, sizeof nan);
    }
}

}  // namespace lumaqc
