// Scratch memory of the fast indicators: kept from call to call and only
// ever grown, so that no frame after the first allocates.
#pragma once

#include <cstdint>
#include <vector>

namespace lumaqc {

// At least n elements of v, growing it when needed; the contents are whatever
// an earlier call left.
template <typename T>
T* growScratch(std::vector<T>& v, uint64_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

}  // namespace lumaqc
