// Instruction-set variants of the hot loops.
//
// A hot loop is written once, as an always-inline body of plain C++ that the
// compiler vectorises, and compiled three times: for the baseline processor,
// for AVX2 and for AVX-512. Each context picks its variant when it opens, from
// what the processor offers; tests run every variant the machine can execute
// against the plain reference. Floating-point contraction stays off in every
// variant (the build passes -ffp-contract=off, and no FMA target is enabled).
#pragma once

namespace lumaqc {

enum class Isa { Generic = 0, Avx2 = 1, Avx512 = 2 };

// Whether this processor can run the variant (Generic always can).
bool isaSupported(Isa isa);
// The best variant this processor supports.
Isa bestSupportedIsa();
// Short name for messages and test names: "generic", "avx2", "avx512".
const char* isaName(Isa isa);

}  // namespace lumaqc

#define LUMAQC_ALWAYS_INLINE inline __attribute__((always_inline))

#if defined(__x86_64__) && defined(__GNUC__)
#define LUMAQC_X86_VARIANTS 1
#define LUMAQC_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define LUMAQC_TARGET_AVX512 \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512cd,avx2,bmi,bmi2,popcnt")))
// Holds three vectors in registers at this point of a hand-written loop: the
// compiler then does not regroup running sums across it, which in an
// unrolled loop turns into trees of partial sums that spill to memory.
#define LUMAQC_IN_REGISTERS(a, b, c) asm("" : "+x"(a), "+x"(b), "+x"(c))
#endif

#define LUMAQC_EXPAND(...) __VA_ARGS__

// LUMAQC_VARIANTS(Ret, name, body, (params...), (args...)) defines
//   static Ret name(Isa isa, params...)
// which runs body(args...) compiled for the given instruction set. body must
// be a LUMAQC_ALWAYS_INLINE function (so that it is compiled into each
// variant) and must call only functions that are inlined as well.
#ifdef LUMAQC_X86_VARIANTS
#define LUMAQC_VARIANTS(Ret, name, body, PARAMS, ARGS)                           \
    static Ret name##Generic PARAMS { return body ARGS; }                        \
    LUMAQC_TARGET_AVX2 static Ret name##Avx2 PARAMS { return body ARGS; }        \
    LUMAQC_TARGET_AVX512 static Ret name##Avx512 PARAMS { return body ARGS; }    \
    [[maybe_unused]] static Ret name(Isa isa, LUMAQC_EXPAND PARAMS) {            \
        switch (isa) {                                                           \
            case Isa::Avx512: return name##Avx512 ARGS;                          \
            case Isa::Avx2: return name##Avx2 ARGS;                              \
            default: return name##Generic ARGS;                                  \
        }                                                                        \
    }
#else
#define LUMAQC_VARIANTS(Ret, name, body, PARAMS, ARGS) \
    [[maybe_unused]] static Ret name(Isa, LUMAQC_EXPAND PARAMS) { return body ARGS; }
#endif

// LUMAQC_EXPLICIT_AVX2(Ret, name, avx2, variants, (params...), (args...))
// defines static Ret name(Isa isa, params...), which runs the hand-written
// avx2(args...) where the processor has AVX2 (AVX-512 processors included)
// and the compiled variants(isa, args...) elsewhere.
#ifdef LUMAQC_X86_VARIANTS
#define LUMAQC_EXPLICIT_AVX2(Ret, name, avx2, variants, PARAMS, ARGS)       \
    [[maybe_unused]] static Ret name(Isa isa, LUMAQC_EXPAND PARAMS) {       \
        if (isa == Isa::Avx2 || isa == Isa::Avx512) return avx2 ARGS;      \
        return variants(isa, LUMAQC_EXPAND ARGS);                           \
    }
#else
#define LUMAQC_EXPLICIT_AVX2(Ret, name, avx2, variants, PARAMS, ARGS) \
    [[maybe_unused]] static Ret name(Isa isa, LUMAQC_EXPAND PARAMS) { return variants(isa, LUMAQC_EXPAND ARGS); }
#endif
