#include <gtest/gtest.h>

#if NETLOOM_HAVE_CAIRO

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

#include "fixtures/run_netloom.h"
#include "open/schematic_open.h"
#include "platform/posix/cairo_export.h"
#include "platform/posix/cairo_painter.h"
#include "render/drawing_export.h"
#include "render/page_frame.h"

using namespace nl;

namespace {

const std::string kReuse = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/reuse_root.kicad_sch";

std::string tempPath(const std::string& name) { return (std::filesystem::temp_directory_path() / name).string(); }

// The objects of a PDF by number; Cairo writes them uncompressed apart from
// their streams. (std::regex recurses per character: no use on font streams.)
std::map<int, std::string> pdfObjects(const std::string& pdf) {
    std::map<int, std::string> objects;
    for (size_t at = pdf.find(" 0 obj"); at != std::string::npos; at = pdf.find(" 0 obj", at + 1)) {
        size_t digits = at;
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(pdf[digits - 1]))) --digits;
        const size_t end = pdf.find("endobj", at);
        if (digits == at || end == std::string::npos) continue;
        objects[std::stoi(pdf.substr(digits, at - digits))] = pdf.substr(at + 6, end - at - 6);
    }
    return objects;
}

// The object whose outline title is `title`; -1 when none.
int outlineEntry(const std::map<int, std::string>& objects, const std::string& title) {
    for (const auto& [number, body] : objects)
        if (body.find("/Title (" + title + ")") != std::string::npos && body.find("/Dest") != std::string::npos)
            return number;
    return -1;
}

int parentOf(const std::map<int, std::string>& objects, int entry) {
    const std::string& body = objects.at(entry);
    const size_t at = body.find("/Parent ");
    return at == std::string::npos ? -1 : std::atoi(body.c_str() + at + 8);
}

uint32_t pixel(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xffffff;
}

}  // namespace

TEST(CairoExport, PdfPagesOutlineAndText) {
    std::string error;
    auto s = openSchematicFile(kReuse, &error);
    ASSERT_TRUE(s) << error;
    ASSERT_EQ(s->sheets.size(), 3u);
    const std::string path = tempPath("netloom_export_test.pdf");
    ASSERT_TRUE(writeDesignPdf(*s, {0, 1, 2}, Settings{}, path, &error)) << error;
    const std::string pdf = nltest::slurp(path);
    const auto objects = pdfObjects(pdf);

    // One page per sheet instance, each its own paper: the root A4, the reused child A5.
    std::vector<std::string> boxes;
    for (const auto& [number, body] : objects) {
        const std::string dict = body.substr(0, body.find("stream"));
        std::smatch m;
        if (std::regex_search(dict, std::regex(R"(/Type /Page\b(?!s))"))) {
            ASSERT_TRUE(std::regex_search(dict, m, std::regex(R"(/MediaBox \[ 0 0 ([\d.]+) ([\d.]+) \])")));
            boxes.push_back(m[1].str().substr(0, 6) + "x" + m[2].str().substr(0, 6));
        }
    }
    EXPECT_EQ(boxes, (std::vector<std::string>{"841.88x595.27", "595.27x419.52", "595.27x419.52"}));

    // Bookmarks of the sheet paths, the two instances nested under the root.
    const int root = outlineEntry(objects, "/"), left = outlineEntry(objects, "/Left/"),
              right = outlineEntry(objects, "/Right/");
    ASSERT_TRUE(root > 0 && left > 0 && right > 0) << pdf.substr(0, 2000);
    EXPECT_EQ(parentOf(objects, left), root);
    EXPECT_EQ(parentOf(objects, right), root);
    EXPECT_NE(parentOf(objects, root), root);

    // Texts stay text: an embedded font with a Unicode map (the integration test reads them back).
    EXPECT_TRUE(pdf.find("/FontFile") != std::string::npos && pdf.find("/ToUnicode") != std::string::npos);
    std::remove(path.c_str());

    EXPECT_FALSE(writeDesignPdf(*s, {0, 3}, Settings{}, path, &error) || std::filesystem::exists(path));
    EXPECT_EQ(error, "no sheet 3 in the design");
    EXPECT_FALSE(writeDesignPdf(*s, {0}, Settings{}, "/nonexistent/dir/x.pdf", &error));
    EXPECT_EQ(error.rfind("cannot write /nonexistent/dir/x.pdf: ", 0), 0u) << error;
}

TEST(CairoExport, PageOnAnyContextWithOrWithoutFrame) {
    auto sample = loadSampleSchematic();
    const BBox page = sheetPageBox(*sample, 0);
    const double zoom = 4;
    const int w = static_cast<int>(page.max_x * zoom), h = static_cast<int>(page.max_y * zoom);
    Settings settings;  // dark
    uint32_t border[2];
    for (bool frame : {false, true}) {
        SurfacePtr image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
        cairo_t* cr = cairo_create(image.get());
        cairo_matrix_t before, after;
        cairo_get_matrix(cr, &before);
        EXPECT_EQ(drawSheetPage(cr, *sample, 0, settings, nullptr, page, zoom, frame), CAIRO_STATUS_SUCCESS);
        cairo_get_matrix(cr, &after);
        EXPECT_TRUE(before.xx == after.xx && before.x0 == after.x0);  // the context's state is left alone
        cairo_destroy(cr);
        border[frame] = pixel(image.get(), 40, h / 2);       // on the outer border, 10 mm in
        EXPECT_EQ(pixel(image.get(), 4, h / 2), 0x0c0e11u);  // the margin stays background
    }
    EXPECT_EQ(border[0], 0x0c0e11u);
    EXPECT_NE(border[1], 0x0c0e11u);

    // The PNG writer the command line uses frames the same way.
    const DrawingWriters writers = cairoDrawingWriters();
    ASSERT_TRUE(writers.png && writers.pdf);
    const std::string path = tempPath("netloom_export_frame.png");
    std::string error;
    ASSERT_TRUE(writers.png(*sample, 0, settings, true, 1188, path, &error)) << error;
    SurfacePtr back(cairo_image_surface_create_from_png(path.c_str()));
    EXPECT_EQ(cairo_image_surface_get_width(back.get()), 1188);
    EXPECT_EQ(cairo_image_surface_get_height(back.get()), 840);  // A4's proportions
    EXPECT_NE(pixel(back.get(), 40, 420), 0x0c0e11u);
    std::remove(path.c_str());
}

#endif
