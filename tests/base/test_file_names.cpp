// Files named with letters outside ASCII, in folders named so too: on Windows
// the narrow runtime calls would read such a name in the ANSI code page and
// miss the file, so these cases run under Wine as well as here.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/file_io.h"
#include "formats/sample_design.h"
#include "open/schematic_open.h"

namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

struct NonAsciiFolder : ::testing::Test {
    void SetUp() override {
        const std::string name =
            "netloom \xc3\x9c"
            "bersicht \xce\xa9\xce\xbc " +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = fs::temp_directory_path() / fs::u8path(name);
        fs::remove_all(folder);
        ASSERT_TRUE(fs::create_directories(folder));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    fs::path folder;
};

TEST_F(NonAsciiFolder, DesignOpensAndOutputIsWritten) {
    const fs::path design = folder / fs::u8path("Schaltpl\xc3\xa4n.kicad_sch");
    {
        std::ofstream out(design, std::ios::binary);
        const std::string_view text = nl::sampleSchematicText();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    std::string error;
    auto s = nl::openSchematicFile(utf8(design), &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->components.size(), nl::loadSampleSchematic()->components.size());

    const std::string written = utf8(folder / fs::u8path("\xe2\x9c\x93 out.txt"));
    std::FILE* f = nl::openFile(written, "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("x\n", f);
    std::fclose(f);
    nl::FileData data;
    ASSERT_TRUE(nl::readWholeFile(written, data));
    EXPECT_EQ(data.bytes, "x\n");  // binary: no CR added on Windows
}

TEST_F(NonAsciiFolder, MissingFileNamesItself) {
    const std::string missing = utf8(folder / fs::u8path("f\xc3\xbcr.kicad_sch"));
    std::string error;
    EXPECT_FALSE(nl::openSchematicFile(missing, &error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_EQ(nl::openFile(utf8(folder / "no such folder" / "x.txt"), "wb"), nullptr);
}

}  // namespace
