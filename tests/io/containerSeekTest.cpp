// The libav reader's seek: whether an input is cuttable and why not, and at
// every start the frames, their numbers and times that decoding every frame
// before the start gives.
#include <gtest/gtest.h>

#include "io/clips.hpp"

using lumaqc::io::InputRequest;
using namespace clips;

namespace {

bool make(const std::string& command) { return shell("cd '" + dir() + "' && " + command) == 0; }

const std::string kTestSource =
    "ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25:duration=3 -vf noise=alls=12:allf=t+u ";

bool haveEncoders() {
    return haveFfmpeg() && shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' libx264 '") == 0 &&
           shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' libx265 '") == 0;
}

}  // namespace

TEST(ContainerSeek, CuttableInputsAndWhyOthersAreNot) {
    if (!lumaqc::io::libavAvailable()) GTEST_SKIP() << "built without libav";
    if (!haveEncoders()) GTEST_SKIP() << "ffmpeg, libx264 or libx265 is missing";
    const std::string vfr =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25:duration=2 -f lavfi -i "
        "testsrc2=size=96x64:rate=30:duration=2 -filter_complex '[0][1]concat=n=2:v=1,settb=1/1000' -vsync vfr "
        "-c:v libx264 -g 12 ";
    ASSERT_TRUE(make(kTestSource + "-c:v libx264 -bf 3 -g 12 -x264-params open-gop=1 cut-h264.mp4"));
    ASSERT_TRUE(make(kTestSource + "-c:v libx264 -bf 3 -g 12 -x264-params open-gop=1 cut-h264.mkv"));
    ASSERT_TRUE(make(kTestSource + "-c:v libx265 -x265-params bframes=3:keyint=12:open-gop=1:log-level=error "
                                   "cut-hevc.mp4"));
    ASSERT_TRUE(make(kTestSource + "-c:v ffv1 cut-ffv1.mov"));
    ASSERT_TRUE(make(vfr + "cut-vfr.mp4 && " + vfr + "cut-vfr.mkv"));
    ASSERT_TRUE(make(kTestSource + "-c:v libx264 -g 12 cut.ts && " + kTestSource + "-c:v mpeg4 cut.avi"));
    ASSERT_TRUE(make(kTestSource + "-c:v ffv1 -f matroska - > cut-streamed.mkv"));
    // Frames on the grid of 25 per second, every seventh followed by a missing one.
    ASSERT_TRUE(make("ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25:duration=3 -vf "
                     "\"setpts='(N+floor(N/7))/25/TB'\" -vsync vfr -c:v libx264 -g 12 cut-gaps.mkv"));
    struct Case {
        std::string name;
        Via via;
        std::string reason;  // "" when cuttable
    };
    const Case cases[] = {
        {"cut-h264.mp4", Via::File, ""},
        {"cut-h264.mkv", Via::File, ""},
        {"cut-hevc.mp4", Via::File, ""},
        {"cut-ffv1.mov", Via::File, ""},
        {"cut-vfr.mp4", Via::File, "variable frame rate"},
        {"cut-vfr.mkv", Via::File, "variable frame rate"},
        {"cut-gaps.mkv", Via::File, "its timestamps skip frames"},
        {"cut.ts", Via::File, "the container is not one lumaqc seeks in (mpegts)"},
        {"cut.avi", Via::File, "the container is not one lumaqc seeks in (avi)"},
        {"cut-streamed.mkv", Via::File, "no frame index"},
        {"cut-h264.mkv", Via::Stdin, "standard input"},
        {"cut-h264.mkv", Via::Fifo, "the input is not seekable"},
    };
    for (const Case& c : cases) {
        const std::string what = c.name + (c.via == Via::Stdin ? " on standard input" : c.via == Via::Fifo ? " in a FIFO" : "");
        InputRequest examine;
        examine.examine = true;
        const Collected probed = through(c.via, file(c.name), examine);
        ASSERT_EQ(probed.openError, "") << what;
        EXPECT_EQ(probed.info.cuttable, c.reason.empty()) << what;
        EXPECT_EQ(probed.info.wholeReason, c.reason) << what;
        if (c.via != Via::File) continue;
        // Every start, two frames from it, against the decoding from the beginning.
        InputRequest linear;
        linear.seek = false;
        const Collected all = through(Via::File, file(c.name), linear);
        ASSERT_EQ(all.openError, "") << what;
        ASSERT_GT(all.planes.size(), 40u) << what;
        const int64_t count = static_cast<int64_t>(all.planes.size());
        for (int64_t start = 1; start < count; ++start) {
            InputRequest from;
            from.start = start;
            from.frames = 2;
            const Collected got = through(Via::File, file(c.name), from);
            const std::string at = what + " from " + std::to_string(start);
            ASSERT_EQ(got.openError, "") << at;
            const size_t expected = static_cast<size_t>(std::min<int64_t>(2, count - start));
            ASSERT_EQ(got.planes.size(), expected) << at;
            for (size_t k = 0; k < expected; ++k) {
                EXPECT_EQ(got.indexes[k], start + static_cast<int64_t>(k)) << at;
                EXPECT_EQ(got.pts[k], all.pts[static_cast<size_t>(start) + k]) << at;
                EXPECT_TRUE(got.planes[k] == all.planes[static_cast<size_t>(start) + k]) << at;
            }
            EXPECT_EQ(got.last.status, all.last.status == lumaqc::io::ReadStatus::End && expected < 2
                                           ? lumaqc::io::ReadStatus::ShortFrame
                                           : lumaqc::io::ReadStatus::End)
                << at;
        }
    }
}
