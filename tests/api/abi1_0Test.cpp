// A program built against version 1.0 calls the entry points of that
// version's names; they give what the sized ones give for its structs.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#define LUMAQC_NO_INLINE_NAMES
#include "lumaqc/lumaqc.h"

extern "C" {
int lumaqc_default_settings(lumaqc_settings* settings);
int lumaqc_open(lumaqc_context** context, int32_t width, int32_t height, const lumaqc_settings* settings);
int lumaqc_analyse(lumaqc_context* context, const uint8_t* luma, ptrdiff_t stride, lumaqc_result* result);
int lumaqc_receive_result(lumaqc_context* context, lumaqc_result* result);
int lumaqc_get_times(const lumaqc_context* context, lumaqc_times* times);
}

TEST(Abi1_0, OldEntryPointsFillTheOldStructsLikeTheSizedOnes) {
    constexpr int32_t w = 64, h = 48;
    std::vector<uint8_t> luma(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < luma.size(); ++i) luma[i] = static_cast<uint8_t>(i * 31 % 256);

    // The settings of 1.0 end before analysis_path: a value there is not read.
    lumaqc_settings old;
    std::memset(&old, 0x7f, sizeof old);
    ASSERT_EQ(lumaqc_default_settings(&old), LUMAQC_OK);
    lumaqc_settings defaults;
    ASSERT_EQ(lumaqc_default_settings_sized(&defaults, sizeof defaults), LUMAQC_OK);
    EXPECT_EQ(std::memcmp(&old, &defaults, offsetof(lumaqc_settings, analysis_path)), 0);
    EXPECT_EQ(old.analysis_path, 0x7f7f7f7f);

    lumaqc_context* a = nullptr;
    lumaqc_context* b = nullptr;
    ASSERT_EQ(lumaqc_open(&a, w, h, &old), LUMAQC_OK);
    ASSERT_EQ(lumaqc_open_sized(&b, w, h, &defaults, sizeof defaults), LUMAQC_OK);
    for (int frame = 0; frame < 3; ++frame) {
        lumaqc_result ra, rb;
        if (frame == 1) {
            ASSERT_EQ(lumaqc_send_frame(a, luma.data(), w), LUMAQC_OK);
            ASSERT_EQ(lumaqc_receive_result(a, &ra), LUMAQC_OK);
        } else {
            ASSERT_EQ(lumaqc_analyse(a, luma.data(), w, &ra), LUMAQC_OK);
        }
        ASSERT_EQ(lumaqc_analyse_sized(b, luma.data(), w, &rb, sizeof rb), LUMAQC_OK);
        EXPECT_EQ(std::memcmp(&ra, &rb, offsetof(lumaqc_result, flickering) + sizeof(double)), 0) << frame;
        luma[static_cast<size_t>(frame)] ^= 0x55;
    }
    lumaqc_times times;
    EXPECT_EQ(lumaqc_get_times(a, &times), LUMAQC_OK);
    lumaqc_close(&a);
    lumaqc_close(&b);
}
