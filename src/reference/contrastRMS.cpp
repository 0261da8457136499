#include <cmath>

#include "common/constants.hpp"
#include "common/indicatorHelpers.hpp"
#include "reference/reference.hpp"

namespace lumaqc {

namespace reference {

double contrastRMS(const Image* img) {
    const uint32_t count = static_cast<uint32_t>(img->w) * static_cast<uint32_t>(img->h);
    const int32_t n = static_cast<int32_t>(count);

    // The pixel sum is kept in 64 bits so that bright pictures of more than
    // 8.4 million pixels do not wrap; below that it equals the 32-bit sum.
    int64_t sum = 0;
    int64_t squareSum = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t p = img->data[i];
        sum += p;
        squareSum += p * p;
    }

    const double nD = static_cast<double>(n);
    const double s = static_cast<double>(sum);
    const double q = static_cast<double>(squareSum);
    const int32_t nMinusOne = static_cast<int32_t>(count - 1u);

    // The reciprocals are multiplied, not divided: the last bit of the mean
    // decides whether a uniform picture gives 0, a tiny value or not-a-number.
    const double m = (1.0 / nD) * s;
    const double d = q - s * m;
    const double v = (1.0 / static_cast<double>(nMinusOne)) * d;
    return std::sqrt(v);
}

}  // namespace reference

}  // namespace lumaqc
