#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli.h"
#include "base/std_output.h"

namespace {

// What a replaced writer saw, per stream.
std::string captured[2];
int flushes = 0;
bool failWrites = false;

bool capture(nl::StdStream s, std::string_view text) {
    if (failWrites) return false;
    captured[s == nl::StdStream::out ? 0 : 1] += text;
    return true;
}
bool countFlush(nl::StdStream) { return ++flushes, true; }

struct CapturedOutput : ::testing::Test {
    void SetUp() override {
        captured[0].clear(), captured[1].clear();
        flushes = 0;
        failWrites = false;
        nl::setStdWriter({capture, countFlush});
    }
    void TearDown() override { nl::setStdWriter({}); }

    static int run(std::vector<std::string> args) {
        args.insert(args.begin(), "netloom");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return nl::runMain(static_cast<int>(args.size()), argv.data(), [](int, char**) { return 42; });
    }
};

// A platform writer sees every line of the command line, on the right stream:
// the Windows console gets nothing behind its back.
TEST_F(CapturedOutput, CommandLineTextGoesThroughTheInstalledWriter) {
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(captured[0].find("Interactive Schematic Viewer"), std::string::npos);
    EXPECT_EQ(captured[1], "");
    EXPECT_GT(flushes, 0);

    captured[0].clear();
    EXPECT_EQ(run({"--component", "sample", "NOPE"}), 1);
    EXPECT_EQ(captured[0], "");
    EXPECT_EQ(captured[1], "Error: No component 'NOPE'\n");

    captured[1].clear();
    EXPECT_EQ(run({"--list-components", "sample"}), 0);
    EXPECT_NE(captured[0].find("R1\t"), std::string::npos);

    captured[0].clear();
    EXPECT_EQ(run({"--svg", "sample", "/nonexistent-dir/x.svg"}), 1);
    EXPECT_EQ(captured[0], "");
    EXPECT_NE(captured[1].find("/nonexistent-dir/x.svg"), std::string::npos);
}

TEST_F(CapturedOutput, AWriterThatFailsMakesTheCommandFail) {
    failWrites = true;
    EXPECT_EQ(run({"--list-nets", "sample"}), 1);
}

TEST_F(CapturedOutput, TheWindowIsNotAStreamUser) {
    EXPECT_EQ(run({"sample"}), 42);
    EXPECT_EQ(captured[0] + captured[1], "");
}

TEST(StdOutput, NullMembersRestoreTheByteWriter) {
    nl::setStdWriter({capture, nullptr});
    nl::setStdWriter({});
    captured[0].clear();
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(nl::writeStd(nl::StdStream::out, "bytes \xc3\xa4\n"));
    EXPECT_TRUE(nl::flushStd(nl::StdStream::out));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "bytes \xc3\xa4\n");
    EXPECT_EQ(captured[0], "");
}

}  // namespace
