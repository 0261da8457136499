// Writes the review page of a long synthetic run for bench/reviewPage.sh:
// ROWS rows (default 1,080,000: six hours at 50 fps) of varied values, an
// event every ROWS / EVENTS frames with pictures of its first, middle and
// last frame, a verdict and thresholds.
//     reviewPageWriter PAGE.html [ROWS] [EVENTS]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/pictures.hpp"
#include "report/htmlReport.hpp"

using namespace lumaqc;

namespace {

FrameRow rowOf(int64_t i, uint32_t& seed) {
    FrameRow row;
    lumaqc_result& v = row.values;
    auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / 16777216.0;
    };
    const double t = static_cast<double>(i);
    row.frame = i;
    row.ptsTime = t / 50.0;
    v.frame = static_cast<int32_t>(i);
    v.has_previous = i > 0;
    v.blockiness = 1.0 + 0.2 * std::sin(t / 370.0) + 0.05 * noise();
    v.spatial_activity = 40.0 + 30.0 * std::sin(t / 1001.0) + 5 * noise();
    v.letterbox = (i / 50000) % 2 ? 0.125 : 0.0;
    v.pillarbox = 0.0;
    v.block_loss = 0.01 * noise();
    v.blur = 1.5 + std::cos(t / 530.0) + 0.3 * noise();
    v.temporal_activity = 5.0 + 4.0 * std::sin(t / 110.0) + noise();
    v.blackout = (i % 9000) < 50;
    v.freezing = (i % 7000) < 30;
    v.exposure = 100.0 + 20 * noise();
    v.contrast = 50.0 + 10 * std::sin(t / 2000.0) + noise();
    v.interlace = 0.001 * noise();
    v.noise = 2.0 + noise();
    v.slice = 1.0 + noise();
    v.flickering = i > 0 && i % 8 == 0 ? 0.3 * noise() : -1.0;
    v.brightest_block = 200 + 40 * noise();
    v.block_difference = 3 * noise();
    v.combing = 0.0005 * noise();
    v.field_order = noise() - 0.5;
    v.luma_min = 16;
    v.luma_low = 20 + noise();
    v.luma_avg = 110 + 10 * noise();
    v.luma_high = 220 + noise();
    v.luma_max = 235;
    v.below_range = 0.0001 * noise();
    v.above_range = 0.0001 * noise();
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reviewPageWriter PAGE.html [ROWS] [EVENTS]\n");
        return 2;
    }
    const int64_t rows = argc > 2 ? std::atoll(argv[2]) : 1080000;
    const int64_t events = argc > 3 ? std::atoll(argv[3]) : 100;
    report::HtmlReport page(argv[1], 1920, 1080);
    uint32_t seed = 1;
    for (int64_t i = 0; i < rows; ++i) page.addRow(rowOf(i, seed));

    report::html::Review review;
    review.verdict = "FAIL";
    review.profile = "broadcast";
    review.gates = {"gate black.count>0: value 100, tripped", "gate blur.p95>5: value 2.8, passed"};
    review.thresholds = {{"blur", "blur.p95>5", 5.0, false}, {"blockiness", "blockiness.p50<0.7", 0.7, false}};
    std::vector<report::html::Segment> segments;
    std::vector<uint8_t> picture(io::pictureBytes(160, 90), 128);
    for (int64_t e = 0; e < events && rows > 0; ++e) {
        const int64_t first = e * rows / events + rows / events / 3, last = std::min(rows - 1, first + 60);
        report::html::Event event{"black", first, last, first / 50.0, (last + 1) / 50.0, "", "", "", {}};
        for (int64_t frame : {first, first + (last - first) / 2, last}) {
            for (size_t p = 0; p < 160 * 90; ++p)
                picture[p] = static_cast<uint8_t>(16 + (p % 160) + (p / 160) + frame % 40);
            event.thumbnails.push_back({frame, io::jpegOfPicture(picture.data(), true, 160, 90), 160, 90});
            if (event.thumbnails.back().jpeg.empty()) {
                std::fprintf(stderr, "reviewPageWriter: cannot encode pictures (FFmpeg's libraries)\n");
                return 1;
            }
        }
        segments.push_back({"black", first, last, event.start, event.end});
        review.events.push_back(std::move(event));
    }
    page.setReview(std::move(review));
    std::string error;
    if (!page.finish({{"input", "synthetic"}, {"fps", "50"}}, segments, {}, &error)) {
        std::fprintf(stderr, "reviewPageWriter: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
