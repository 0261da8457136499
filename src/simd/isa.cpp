#include "simd/isa.hpp"

namespace lumaqc {

bool isaSupported(Isa isa) {
#ifdef LUMAQC_X86_VARIANTS
    switch (isa) {
        case Isa::Generic: return true;
        case Isa::Avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
        case Isa::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
                   __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    }
    return false;
#else
    return isa == Isa::Generic;
#endif
}

Isa bestSupportedIsa() {
    if (isaSupported(Isa::Avx512)) return Isa::Avx512;
    if (isaSupported(Isa::Avx2)) return Isa::Avx2;
    return Isa::Generic;
}

const char* isaName(Isa isa) {
    switch (isa) {
        case Isa::Avx512: return "avx512";
        case Isa::Avx2: return "avx2";
        default: return "generic";
    }
}

}  // namespace lumaqc
