// What the program says about itself: file names in console lines, error
// lines and the summary of many files cannot break a line or steer the
// terminal, and a thread the system refuses is named as such.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/runner.hpp"
#include "report/numbers.hpp"

namespace {

// One whole 16 x 16 frame.
const std::string kFrame(16 * 16 * 3 / 2, '\x50');

// The lines of text that hold needle.
std::vector<std::string> linesWith(const std::string& text, const std::string& needle) {
    std::vector<std::string> found;
    for (const std::string& line : linesOf(text))
        if (line.find(needle) != std::string::npos) found.push_back(line);
    return found;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The program's output holds no terminal control (ESC, a C1 control) and is
// valid UTF-8: what a terminal shows is what the program meant.
bool terminalSafe(const std::string& text) {
    std::string json;
    lumaqc::report::appendJsonString(json, text);
    if (json.find("\\ufffd") != std::string::npos || json.find("\\u001b") != std::string::npos) return false;
    return text.find("\xc2\x9b") == std::string::npos && text.find("\xc2\x85") == std::string::npos;
}

}  // namespace

// Each hostile name, run the three ways that print a name, writes the same
// lines as a plain name does, with the name escaped and nothing more.
TEST(Messages, FileNamesArePrintedEscaped) {
    const std::string plain = "plainname.yuv";
    const std::vector<std::string> hostile = {
        "esc\x1b[31mred.yuv", "line\nbreak.yuv", "c1\xc2\x9b" "2J.yuv", "bad\xff\xfe.yuv",
        "tab\tand\rreturn.yuv", "next\xc2\x85line.yuv", "del\x7f.yuv",
    };
    const struct {
        const char* how;
        std::string args;  // NAME stands for the quoted file name
        bool create;       // whether the file exists
        bool onStdout;     // where the name is printed
    } ways[] = {
        {"a single run", "NAME 16 16", true, true},
        {"a missing input", "NAME 16 16", false, false},
        {"many files", "--json-dir out --size 16x16 NAME", true, true},
    };
    for (const auto& way : ways) {
        for (const std::string& name : hostile) {
            SCOPED_TRACE(std::string(way.how) + ": " + lumaqc::report::terminalText(name));
            RunResult expected, got;
            for (const std::string& given : {plain, name}) {
                WorkDir dir;
                runShell("mkdir '" + dir.file("out") + "'");
                if (way.create) std::ofstream(dir.file(given), std::ios::binary) << kFrame;
                RunResult r = runIn(dir, replaced(way.args, "NAME", "'" + given + "'"));
                // Absolute names in the summary: only the file's own name is compared.
                r.out = replaced(r.out, dir.path + "/", "");
                (given == plain ? expected : got) = r;
            }
            EXPECT_EQ(got.status, expected.status);
            EXPECT_TRUE(terminalSafe(got.out)) << got.out;
            EXPECT_TRUE(terminalSafe(got.err)) << got.err;
            const std::string escaped = lumaqc::report::terminalText(name);
            const std::string& expectedText = way.onStdout ? expected.out : expected.err;
            const std::string& gotText = way.onStdout ? got.out : got.err;
            EXPECT_EQ(linesOf(gotText).size(), linesOf(expectedText).size());
            std::vector<std::string> wanted;
            for (const std::string& line : linesWith(expectedText, plain)) {
                // The summary pads the name to a column; the padding follows the escaped name's length.
                std::string line2 = replaced(line, plain, escaped);
                wanted.push_back(line2.substr(0, line2.find(escaped) + escaped.size()));
            }
            std::vector<std::string> printed;
            for (const std::string& line : linesWith(gotText, escaped))
                printed.push_back(line.substr(0, line.find(escaped) + escaped.size()));
            ASSERT_FALSE(wanted.empty()) << expectedText;
            EXPECT_EQ(printed, wanted) << gotText;
        }
    }
}

// Escaped text reads back to the bytes it came from (backslashes aside, which
// stay as they are) and holds only printable UTF-8.
TEST(Messages, TerminalTextReadsBack) {
    const std::vector<std::string> texts = {
        "", "plain.yuv", "\x1b[2J", "a\nb\r\tc", std::string("nul\0in", 6), "\x7f\xc2\x80\xc2\x9f\xc2\xa0",
        "\xff\xfe", "\xe2\x82\xac euro", "\xed\xa0\x80 surrogate", "\xf0\x9f\x8e\xa5 camera", "\xc3", "\xe2\x82",
    };
    for (const std::string& text : texts) {
        const std::string escaped = lumaqc::report::terminalText(text);
        SCOPED_TRACE(escaped);
        EXPECT_TRUE(terminalSafe(escaped));
        for (const char c : escaped) EXPECT_GE(static_cast<unsigned char>(c), 0x20u);
        std::string back;
        for (size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == '\\' && i + 1 < escaped.size() && escaped[i + 1] == 'x') {
                back += static_cast<char>(std::stoi(escaped.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else if (escaped[i] == '\\' && i + 1 < escaped.size() && std::string("nrt").find(escaped[i + 1]) != std::string::npos) {
                back += escaped[i + 1] == 'n' ? '\n' : escaped[i + 1] == 'r' ? '\r' : '\t';
                ++i;
            } else {
                back += escaped[i];
            }
        }
        EXPECT_EQ(back, text);
    }
}

// With every new thread refused, a run that needs analysis threads says so
// in one line and fails; one that needs none runs as usual.
TEST(Messages, RefusedThreadsAreNamed) {
    const struct {
        std::string args;
        int status;
        const char* line;  // the error line's start, or null: no error
    } cases[] = {
        {"--threads 1 c.yuv 16 16", 0, nullptr},
        {"--threads 3 c.yuv 16 16", 255, "Cannot start 3 analysis threads: the system refused a new thread"},
        {"--threads 2 --json-dir out --size 16x16 c.yuv", 255, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        WorkDir dir;
        runShell("mkdir '" + dir.file("out") + "'");
        std::ofstream(dir.file("c.yuv"), std::ios::binary) << kFrame << kFrame;
        const int status = runShell("cd '" + dir.path + "' && ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" "
                                    "LD_PRELOAD='" LUMAQC_THREADS_REFUSED "' '" LUMAQC_BINARY "' " + c.args +
                                    " > out.txt 2> err.txt");
        const std::string out = readFile(dir.file("out.txt")), err = readFile(dir.file("err.txt"));
        EXPECT_EQ(status, c.status) << err;
        if (c.line != nullptr) {
            ASSERT_EQ(linesOf(err).size(), 1u) << err;
            EXPECT_EQ(err.rfind(c.line, 0), 0u) << err;
            EXPECT_FALSE(fileExists(dir.file("metricsResultsCSV.csv")));
        } else if (c.status == 0) {
            EXPECT_EQ(err, "");
        } else {
            // Many files: the input's line in the summary carries the reason.
            EXPECT_EQ(linesWith(summaryOf(out), "Cannot start 2 analysis threads").size(), 1u) << out << err;
        }
    }
}
