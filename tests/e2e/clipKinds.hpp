// 16 x 16 raw clips described frame by frame: 'n' a noisy ramp whose level
// changes every frame, 'b' black (legal level 16), 'f' the picture
// before it again.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline std::vector<uint8_t> clipOfKinds(const std::string& kinds) {
    constexpr size_t kLuma = 16 * 16, kFrame = kLuma * 3 / 2;
    std::mt19937 rng(7);
    std::vector<uint8_t> clip, picture(kFrame, 128);
    for (size_t t = 0; t < kinds.size(); ++t) {
        if (kinds[t] == 'b') {
            std::fill(picture.begin(), picture.begin() + kLuma, uint8_t{16});
        } else if (kinds[t] == 'n') {
            const int level = 60 + static_cast<int>(t % 2) * 50;
            // A ramp across the picture, so that its blocks differ (not a flat picture).
            for (size_t i = 0; i < kLuma; ++i) picture[i] = static_cast<uint8_t>(level + (i % 16) * 6 + rng() % 20);
        }
        clip.insert(clip.end(), picture.begin(), picture.end());
    }
    return clip;
}

// kinds repeated: "n" x 50 + "b" x 60 ...
inline std::string kindsOf(std::initializer_list<std::pair<char, int>> runs) {
    std::string kinds;
    for (const auto& [kind, count] : runs) kinds.append(static_cast<size_t>(count), kind);
    return kinds;
}
