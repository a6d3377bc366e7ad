#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/file_io.h"

using namespace nl;
namespace fs = std::filesystem;

namespace {

class FileIo : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/netloom_file_io_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

}  // namespace

TEST_F(FileIo, OnlyRegularFilesAreRead) {
    std::ofstream(path("small.txt")) << "hello";
    std::ofstream(path("empty.txt"));
    FileData data;
    FileError error;
    ASSERT_TRUE(readWholeFile(path("small.txt"), data, &error));
    EXPECT_EQ(data.bytes, "hello");
    ASSERT_TRUE(readWholeFile(path("empty.txt"), data, &error));
    EXPECT_EQ(data.bytes, "");

    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);  // no writer: opening must not wait
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path("socket").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // path, missing, reason
    const std::vector<std::tuple<std::string, bool, std::string>> refused = {
        {path("nothing.txt"), true, "No such file or directory"},
        {path("small.txt/below"), true, "Not a directory"},
        {dir_.string(), false, "is a folder"},
        {path("pipe"), false, "not a regular file"},
        {path("socket"), false, "not a regular file"},
        {"/dev/zero", false, "not a regular file"},
    };
    for (const auto& [file, missing, reason] : refused) {
        error = {};
        EXPECT_FALSE(readWholeFile(file, data, &error)) << file;
        EXPECT_EQ(error.missing, missing) << file;
        EXPECT_EQ(error.reason, reason) << file;
    }
    close(sock);
    // A file of the system that claims no size and then fails to read: a message, no exception.
    error = {};
    EXPECT_FALSE(readWholeFile("/proc/self/mem", data, &error));
    EXPECT_EQ(error.reason, "Input/output error");
}

TEST_F(FileIo, FileShrunkWhileMappedReadsAsZeros) {
    // Large enough to be mapped rather than copied.
    const std::string text(1 << 20, 'x');
    std::ofstream(path("big.txt"), std::ios::binary) << text;
    FileData data;
    ASSERT_TRUE(readWholeFile(path("big.txt"), data));
    const size_t faults = mappedFileFaults();
    ASSERT_EQ(truncate(path("big.txt").c_str(), 4096), 0);
    size_t xs = 0, zeros = 0;
    for (char c : data.bytes) c == 'x' ? ++xs : c == 0 ? ++zeros : 0;
    EXPECT_EQ(xs + zeros, text.size());
    EXPECT_EQ(xs, 4096u);
    EXPECT_GT(mappedFileFaults(), faults);
    data = {};  // unmapped: a fault there is no longer ours to mend
}
