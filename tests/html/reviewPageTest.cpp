// The review on top of the page, in headless Chromium: the verdict and the
// events come first, each event with pictures of its first, middle and last
// frame whose pixels match the frame scaled independently, a click on an
// event zooms every plot as a #frames address does, and the console and the
// log stay as without --html.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "e2e/runner.hpp"
#include "html/browser.hpp"

namespace lumaqc::test {
namespace {

constexpr int kWidth = 320, kHeight = 240;

// A picture that changes every frame: a ramp, squares that move, a level that steps.
std::vector<uint8_t> patterned(int t) {
    std::vector<uint8_t> luma(static_cast<size_t>(kWidth * kHeight));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            luma[static_cast<size_t>(y * kWidth + x)] =
                ((y / 40 + x / 40 + t) % 3 == 0) ? 200 : static_cast<uint8_t>(40 + x * 150 / kWidth + y * 40 / kHeight + (t * 7) % 30);
    return luma;
}

// 30 changing frames, 40 frozen, 30 black, 30 changing: the luma of each.
std::vector<std::vector<uint8_t>> clipPictures() {
    std::vector<std::vector<uint8_t>> pictures;
    for (int t = 0; t < 30; ++t) pictures.push_back(patterned(t));
    for (int t = 0; t < 40; ++t) pictures.push_back(patterned(30));
    for (int t = 0; t < 30; ++t) pictures.push_back(std::vector<uint8_t>(static_cast<size_t>(kWidth * kHeight), 16));
    for (int t = 100; t < 130; ++t) pictures.push_back(patterned(t));
    return pictures;
}

void writeClip(const WorkDir& dir, const std::vector<std::vector<uint8_t>>& pictures) {
    std::vector<uint8_t> bytes;
    for (const auto& luma : pictures) {
        bytes.insert(bytes.end(), luma.begin(), luma.end());
        bytes.insert(bytes.end(), static_cast<size_t>(kWidth * kHeight / 2), uint8_t{128});
    }
    dir.write("clip.yuv", bytes);
}

// Mean of each channel over a 4 x 4 grid of a full-size picture of `channels`
// interleaved samples: what any fair scaling keeps.
std::vector<double> gridMeans(const std::vector<uint8_t>& picture, int channels) {
    std::vector<double> grid;
    for (int gy = 0; gy < 4; ++gy)
        for (int gx = 0; gx < 4; ++gx)
            for (int c = 0; c < channels; ++c) {
                double total = 0;
                for (int y = gy * kHeight / 4; y < (gy + 1) * kHeight / 4; ++y)
                    for (int x = gx * kWidth / 4; x < (gx + 1) * kWidth / 4; ++x)
                        total += picture[static_cast<size_t>((y * kWidth + x) * channels + c)];
                grid.push_back(total / (kWidth / 4 * kHeight / 4));
            }
    return grid;
}

// The decoded pictures' grid as grey levels (raw luma shown as grey): red, green and blue alike.
std::vector<double> greyGrid(const std::vector<uint8_t>& luma) {
    std::vector<double> grid;
    for (double level : gridMeans(luma, 1)) grid.insert(grid.end(), 3, level);
    return grid;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string withoutTimes(const std::string& console) {
    std::string kept;
    for (const std::string& line : linesOf(console))
        if (line.find(" ms") == std::string::npos && line.find("millisecond") == std::string::npos &&
            line.find("time") == std::string::npos)
            kept += line + "\n";
    return kept;
}

class ReviewPage : public ::testing::Test {
protected:
    void SetUp() override {
        chromium_ = findChromium();
        if (chromium_.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
        writeClip(dir_, pictures_);
    }
    // The page of a run, copied beside the other pages of the tests as keptName.
    std::string page(const std::string& name, const std::string& keptName) {
        const std::string kept = artifactDir() + "/" + keptName;
        std::filesystem::copy_file(dir_.file(name), kept, std::filesystem::copy_options::overwrite_existing);
        return kept;
    }
    std::string chromium_;
    WorkDir dir_;
    const std::vector<std::vector<uint8_t>> pictures_ = clipPictures();
    const std::string gates_ = " --fail-if 'black.count>0' --fail-if 'blur.p95>5'";
};

TEST_F(ReviewPage, EventsComeFirstWithPicturesOfTheirFramesFromAFileAndAPipe) {
    const RunResult plain = runIn(dir_, "clip.yuv 320 240 --no-progress --json events.json" + gates_);
    ASSERT_EQ(plain.status, 1) << plain.err;
    const nlohmann::json events = nlohmann::json::parse(readFile(dir_.file("events.json")))["events"];
    ASSERT_GE(events.size(), 2u);

    for (const std::string input : {"clip.yuv", "- < clip.yuv"}) {
        SCOPED_TRACE(input);
        const RunResult run = runIn(dir_, input + " 320 240 --no-progress --html review.html" + gates_);
        ASSERT_EQ(run.status, 1) << run.err;
        // From the header on (the lines above name the input and, for a pipe, an unknown count).
        const std::string out = withoutTimes(run.out), plainOut = withoutTimes(plain.out);
        EXPECT_TRUE(out.substr(out.find("Frame:")) == plainOut.substr(plainOut.find("Frame:")));
        EXPECT_EQ(run.log.substr(run.log.find('\n')), plain.log.substr(plain.log.find('\n')));

        const BrowserRun browser = runChromium(chromium_, "file://" + page("review.html", "review-events.html"), "--dump-dom", "review-dump");
        ASSERT_EQ(browser.status, 0);
        const RenderStatus status = readStatus(browser.output);
        ASSERT_TRUE(status.found);
        EXPECT_TRUE(status.errors.empty()) << status.errors.front();
        // The verdict, then the events, then the plots and the tables.
        const std::string& dom = browser.output;
        const size_t verdict = dom.find("<p class=\"verdict fail\" id=\"verdict\">FAIL"), table = dom.find("id=\"events\""),
                     charts = dom.find("id=\"charts\""), pooled = dom.find("id=\"pooled\"");
        ASSERT_NE(verdict, std::string::npos);
        EXPECT_LT(verdict, table);
        EXPECT_LT(table, charts);
        EXPECT_LT(charts, pooled);
        EXPECT_EQ(status.plot.at("blur").at("thresholds"), "1");
        EXPECT_EQ(status.plot.at("blockiness").at("thresholds"), "0");

        // Per event its first, middle and last frame, each a decoded picture of that frame.
        ASSERT_EQ(status.thumbs.size(), 3 * events.size());
        for (const DrawnThumbnail& t : status.thumbs) {
            SCOPED_TRACE("event " + std::to_string(t.event) + " picture " + std::to_string(t.index));
            const int64_t first = events[static_cast<size_t>(t.event)]["first_frame"];
            const int64_t last = events[static_cast<size_t>(t.event)]["last_frame"];
            const int64_t wanted[] = {first, first + (last - first) / 2, last};
            EXPECT_EQ(t.frame, wanted[t.index]);
            EXPECT_EQ(t.width, 160);
            EXPECT_EQ(t.height, 160 * kHeight / kWidth);
            const std::vector<double> expected = greyGrid(pictures_[static_cast<size_t>(t.frame)]);
            ASSERT_EQ(t.rgb.size(), expected.size());
            for (size_t g = 0; g < expected.size(); ++g) EXPECT_NEAR(t.rgb[g], expected[g], 4.0) << "cell " << g / 3;
        }
    }
}

TEST_F(ReviewPage, ADecodedInputsPicturesAreInColour) {
    if (runShell("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "the ffmpeg command is missing";
    // Colour bars moving for a second, then frozen for two: one freeze event.
    ASSERT_EQ(runShell("cd '" + dir_.path + "' && ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 "
                       "-vf tpad=stop_mode=clone:stop_duration=2 -c:v libx264 -qp 0 -pix_fmt yuv444p colour.mkv"),
              0);
    const RunResult run = runIn(dir_, "colour.mkv --no-progress --quiet --html review.html --json events.json");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json events = nlohmann::json::parse(readFile(dir_.file("events.json")))["events"];
    ASSERT_EQ(events.size(), 1u);
    const BrowserRun browser = runChromium(chromium_, "file://" + page("review.html", "review-colour.html"), "--dump-dom",
                                           "review-colour");
    ASSERT_EQ(browser.status, 0);
    const RenderStatus status = readStatus(browser.output);
    EXPECT_TRUE(status.errors.empty()) << status.errors.front();
    ASSERT_EQ(status.thumbs.size(), 3u);
    for (const DrawnThumbnail& t : status.thumbs) {
        SCOPED_TRACE("picture " + std::to_string(t.index) + ", frame " + std::to_string(t.frame));
        // The same frame decoded and turned into RGB by the ffmpeg command, at full size.
        const std::string rgb = dir_.file("frame.rgb");
        ASSERT_EQ(runShell("ffmpeg -v error -y -i '" + dir_.file("colour.mkv") + "' -vf 'select=eq(n\\," +
                           std::to_string(t.frame) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + rgb + "'"),
                  0);
        const std::string bytes = readFile(rgb);
        ASSERT_EQ(bytes.size(), static_cast<size_t>(kWidth * kHeight * 3));
        const std::vector<double> expected = gridMeans(std::vector<uint8_t>(bytes.begin(), bytes.end()), 3);
        ASSERT_EQ(t.rgb.size(), expected.size());
        for (size_t g = 0; g < expected.size(); ++g) EXPECT_NEAR(t.rgb[g], expected[g], 12.0) << "cell " << g / 3 << " channel " << g % 3;
    }
}

// lumaqc check --html: the page's verdict and profile are the check's.
TEST_F(ReviewPage, CheckWritesThePageOfItsInputWithItsVerdict) {
    const struct {
        std::string args;
        std::string verdict;  // the page's line, "" when no page is written
        int status;
    } cases[] = {
        {"check clip.yuv --size 320x240 --profile archive --html check.html", "FAIL", 1},
        {"check clip.yuv --size 320x240 --profile archive --waivers waivers.json --html check.html", "PASS", 0},
        {"check clip.yuv clip.yuv --size 320x240 --html check.html", "", 255},
    };
    std::ofstream(dir_.file("waivers.json")) << R"([{"type": "black", "first": 0, "last": 129}, {"type": "freeze", "first": 0, "last": 129}])";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::filesystem::remove(dir_.file("check.html"));
        const RunResult run = runIn(dir_, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.verdict.empty()) {
            EXPECT_EQ(run.err, "lumaqc check --html takes a single input\n");
            EXPECT_FALSE(fileExists(dir_.file("check.html")));
            continue;
        }
        EXPECT_EQ(run.out.substr(0, 5), c.verdict + " ");
        const std::string page = readFile(dir_.file("check.html"));
        // Waived events stay listed, marked.
        EXPECT_EQ(count(page, "<td class=\"note\">waived</td>"), c.status == 0 ? 2u : 0u);
        EXPECT_NE(page.find("id=\"verdict\">" + c.verdict + " <span class=\"profile\">profile archive</span>"),
                  std::string::npos);
    }
}

TEST_F(ReviewPage, AClickOnAnEventZoomsEveryPlotAsItsFramesAddressDoes) {
    const RunResult run = runIn(dir_, "clip.yuv 320 240 --no-progress --html review.html --json events.json");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json events = nlohmann::json::parse(readFile(dir_.file("events.json")))["events"];
    ASSERT_GE(events.size(), 2u);
    const std::string url = "file://" + page("review.html", "review-zoom.html");
    for (size_t k = 0; k < events.size(); ++k) {
        const int64_t first = events[k]["first_frame"], last = events[k]["last_frame"];
        const std::string frames = std::to_string(first - 1) + "-" + std::to_string(last + 1);
        for (const std::string& address : {"#event=" + std::to_string(k), "#frames=" + frames}) {
            SCOPED_TRACE(address);
            const BrowserRun browser = runChromium(chromium_, url + address, "--dump-dom", "review-zoom");
            ASSERT_EQ(browser.status, 0);
            const RenderStatus status = readStatus(browser.output);
            EXPECT_TRUE(status.errors.empty()) << status.errors.front();
            ASSERT_EQ(status.plot.size(), static_cast<size_t>(status.plots));
            for (auto [name, drawn] : status.plot) {
                EXPECT_EQ(drawn["xMin"], std::to_string(first - 1)) << name;
                EXPECT_EQ(drawn["xMax"], std::to_string(last + 1)) << name;
            }
        }
    }
}

}  // namespace
}  // namespace lumaqc::test
