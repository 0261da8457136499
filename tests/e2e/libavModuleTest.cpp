// A program without the libav module beside it, or with one whose libraries
// cannot be loaded: raw YUV and Y4M read as before, a container fails with
// one line saying what to install and the status of every input that cannot
// be read.
#include <gtest/gtest.h>

#include "e2e/runner.hpp"

#ifdef LUMAQC_LIBAV_MODULE_NAME

TEST(LibavModule, WithoutItAContainerNamesWhatToInstall) {
    WorkDir dir;
    const std::string program = dir.file("lumaqc");
    ASSERT_EQ(runShell("cp '" LUMAQC_BINARY "' '" + program + "' && cd '" + dir.path +
                       "' && '" LUMAQC_SAMPLE_BINARY "' sample.yuv >/dev/null"),
              0);
    // The same ten frames as Y4M, whose default rate is the raw reader's.
    const std::string raw = readFile(dir.file("sample.yuv"));
    std::string y4m = "YUV4MPEG2 W352 H288 F25:1 C420jpeg\n";
    for (size_t frame = 0; frame < 10; ++frame)
        y4m += "FRAME\n" + raw.substr(frame * 352 * 288 * 3 / 2, 352 * 288 * 3 / 2);
    dir.write("sample.y4m", std::vector<uint8_t>(y4m.begin(), y4m.end()));
    const RunResult expected = runIn(dir, "sample.yuv 352 288 25 10");
    ASSERT_EQ(expected.status, 0) << expected.err;

    struct Case {
        std::string module;  // the bytes of a module beside the program, none when empty
        std::string says;
    };
    const Case cases[] = {
        {"",
         "Cannot read sample.yuv: decoding it needs lumaqc's "
         "module " LUMAQC_LIBAV_MODULE_NAME ", found neither in "},
        {"not a shared object",
         "Cannot read sample.yuv: decoding it needs "
         "FFmpeg's libraries, which lumaqc's module "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        if (!c.module.empty())
            dir.write(LUMAQC_LIBAV_MODULE_NAME, std::vector<uint8_t>(c.module.begin(), c.module.end()));
        const RunResult container = runIn(dir, "sample.yuv", program);  // no sizes: probed as a container
        EXPECT_EQ(container.status, 255);
        EXPECT_EQ(container.err.rfind(c.says, 0), 0u) << container.err;
        EXPECT_EQ(linesOf(container.err).size(), 1u) << container.err;
        EXPECT_NE(container.err.find(": install "), std::string::npos) << container.err;
        EXPECT_EQ(container.out, "");
        for (const std::string& args : {std::string("sample.yuv 352 288 25 10"), std::string("sample.y4m")}) {
            const RunResult run = runIn(dir, args, program);
            EXPECT_EQ(run.status, 0) << args << ": " << run.err;
            EXPECT_EQ(run.log, expected.log) << args;
        }
    }
}

#endif
