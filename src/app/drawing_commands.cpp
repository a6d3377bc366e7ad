#include "app/drawing_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "app/navigation.h"
#include "base/file_io.h"
#include "base/std_output.h"
#include "base/text.h"
#include "render/drawing_export.h"
#include "render/svg_painter.h"
#include "settings/settings.h"

namespace nl {

namespace {

constexpr int kDefaultWidth = 2000;
constexpr int kMinWidth = 100;
constexpr int kMaxWidth = 20000;
// Long enough for any sensible sheet path, well inside every file system's limit.
constexpr size_t kMaxNamePart = 60;
constexpr size_t kMaxName = 150;

void out(const std::string& s) { writeStd(StdStream::out, s); }
void err(const std::string& s) { writeStd(StdStream::err, s); }

bool isThemeName(const std::string& name) {
    return name == "dark" || name == "light" || name == "blueprint" || name == "paper";
}

// Whole decimal numbers only: "2000px" or "2e3" are mistakes, not widths.
bool parseWidth(const std::string& text, int& width) {
    if (text.empty() || text.size() > 6) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    width = v;
    return true;
}

std::string sheetListing(const Schematic& s) {
    std::string list;
    for (size_t i = 0; i < s.sheets.size(); ++i)
        list += "\n  " + std::to_string(i) + "  " + sheetPath(s, static_cast<int>(i)) + "  (" + s.sheets[i].file + ")";
    return list;
}

// Letters, digits and . _ + - stay; every run of anything else becomes one '_'.
// Ends are trimmed of '.', '_' and blanks, which Windows drops or refuses.
std::string safeNamePart(const std::string& text) {
    std::string part;
    for (char ch : text) {
        const bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                          ch == '.' || ch == '-' || ch == '+' || ch == '_';
        if (keep)
            part += ch;
        else if (part.empty() || part.back() != '_')
            part += '_';
    }
    size_t b = 0, e = part.size();
    while (b < e && (part[b] == '.' || part[b] == '_')) ++b;
    while (e > b && (part[e - 1] == '.' || part[e - 1] == '_')) --e;
    part = part.substr(b, std::min(e - b, kMaxNamePart));
    while (!part.empty() && (part.back() == '.' || part.back() == '_')) part.pop_back();
    return part;
}

// CON, PRN, AUX, NUL, COM1..9 and LPT1..9 name devices on Windows, whatever follows the first dot.
bool windowsDeviceName(const std::string& name) {
    const std::string base = toLower(name.substr(0, name.find('.')));
    if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
    return base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

std::string designStem(const Schematic& s) {
    const size_t slash = s.path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? s.path : s.path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    name = safeNamePart(name);
    return name.empty() ? "design" : name;
}

// True when `outPath` names the design's file `inPath` or one of its sheet
// files beside it: writing there would destroy the design.
bool isInputFile(const std::string& outPath, const Schematic& s, const std::string& inPath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = fs::u8path(outPath);
    if (s.path == "<built-in sample>" || !fs::exists(target, ec)) return false;
    std::vector<fs::path> inputs = {fs::u8path(inPath)};
    const fs::path folder = inputs[0].parent_path();
    for (const Sheet& sheet : s.sheets)
        if (!sheet.file.empty()) inputs.push_back(folder / fs::u8path(sheet.file));
    for (const fs::path& in : inputs)
        if (fs::equivalent(target, in, ec)) return true;
    return false;
}

// Reports a file that may not or could not be written; false when it may be.
bool refused(const std::string& path, const Schematic& s, const DrawingRequest& r) {
    if (!isInputFile(path, s, r.file)) return false;
    err("Error: cannot write " + path + ": it is a file of the design being drawn\n");
    return true;
}

// 0, or the errno of the first failure to write the whole of `data`.
int writeFile(const std::string& path, const std::string& data) {
    errno = 0;
    std::FILE* f = openFile(path, "wb");
    if (!f) return errno ? errno : EIO;
    int failure = 0;
    if (std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fflush(f) != 0)
        failure = errno ? errno : EIO;
    if (std::fclose(f) != 0 && !failure) failure = errno ? errno : EIO;
    return failure;
}

std::string wrote(const std::string& path, unsigned long long bytes) {
    return "Wrote " + path + " (" + std::to_string(bytes) + " bytes)\n";
}

// One sheet to one file; reports the outcome and returns the exit status.
int writeSheet(const Schematic& s, int sheet, const DrawingRequest& r, const Settings& settings, int width,
               const std::string& path) {
    if (refused(path, s, r)) return 1;
    if (r.format == "svg") {
        const std::string svg = renderSvg(s, sheet, settings, nullptr, kDefaultWidth, r.frame);
        if (const int failure = writeFile(path, svg)) {
            err("Error: cannot write " + path + ": " + std::strerror(failure) + "\n");
            return 1;
        }
        out(wrote(path, svg.size()));
        return 0;
    }
    std::string error;
    if (!drawingWriters().png(s, sheet, settings, r.frame, width, path, &error)) {
        err("Error: " + error + "\n");
        return 1;
    }
    std::error_code ec;
    out(wrote(path, std::filesystem::file_size(path, ec)));
    return 0;
}

}  // namespace

bool parseDrawingRequest(const std::vector<std::string>& args, DrawingRequest& r) {
    if (args.size() < 3) return false;
    const std::string& option = args[0];
    if (option != "--svg" && option != "--png" && option != "--pdf") return false;
    r = DrawingRequest{};
    r.format = option.substr(2);
    r.file = args[1];
    r.out = args[2];
    for (size_t i = 3; i < args.size(); ++i) {
        const std::string& m = args[i];
        const bool hasValue = i + 1 < args.size();
        if (m == "--frame") {
            r.frame = true;
        } else if (m == "--sheet" && hasValue) {
            r.sheet = args[++i];
        } else if (m == "--theme" && hasValue) {
            r.theme = args[++i];
        } else if (m == "--width" && hasValue && r.format == "png") {
            r.width = args[++i];
        } else {
            return false;
        }
    }
    return true;
}

int resolveSheetArgument(const Schematic& s, const std::string& wanted, std::string* error) {
    const int n = static_cast<int>(s.sheets.size());
    if (!wanted.empty() && wanted[0] == '/') {
        // As the files name it ("/I{slash}O/") or as the window's selector shows it ("/I/O/").
        const std::string path = wanted.back() == '/' ? wanted : wanted + "/";
        const std::vector<std::string> shown = sheetPaths(s);
        for (int i = 0; i < n; ++i)
            if (sheetPath(s, i) == path || shown[i] == path) return i;
    }
    if (!wanted.empty() && wanted.size() <= 9 && wanted.find_first_not_of("0123456789") == std::string::npos &&
        std::stoi(wanted) < n)
        return std::stoi(wanted);
    for (bool anyCase : {false, true}) {
        std::vector<int> found;
        for (int i = 0; i < n && !wanted.empty(); ++i)
            if (anyCase ? equalsNoCase(s.sheets[i].name, wanted) : s.sheets[i].name == wanted) found.push_back(i);
        if (found.size() == 1) return found[0];
        if (found.size() > 1) {
            if (error) {
                *error = "Sheet name '" + wanted + "' fits several sheets; give its path:";
                for (int i : found) *error += "\n  " + std::to_string(i) + "  " + sheetPath(s, i);
            }
            return -1;
        }
    }
    if (error) *error = "No sheet '" + wanted + "' in the design. Its sheets:" + sheetListing(s);
    return -1;
}

std::vector<std::string> sheetFileNames(const Schematic& s, const std::vector<int>& sheets,
                                        const std::string& extension) {
    const std::string stem = designStem(s);
    std::vector<std::string> names;
    std::set<std::string> taken;  // lower case: Windows and macOS ignore case
    for (int sheet : sheets) {
        std::string base = stem;
        const std::string path = sheetPath(s, sheet);
        for (size_t from = 1; from < path.size();) {
            const size_t cut = path.find('/', from);
            const std::string part = safeNamePart(path.substr(from, cut - from));
            base += "-" + (part.empty() ? "sheet" : part);
            from = cut == std::string::npos ? path.size() : cut + 1;
        }
        if (base.size() > kMaxName) base.resize(kMaxName);
        if (windowsDeviceName(base)) base += "_";
        std::string name = base + extension;
        for (int k = 2; taken.count(toLower(name)); ++k) name = base + "-" + std::to_string(k) + extension;
        taken.insert(toLower(name));
        names.push_back(name);
    }
    return names;
}

namespace {

int runRequest(const DrawingRequest& r, const DesignOpener& open, const SettingsReader& readSettings) {
    const std::string theme = toLower(r.theme);
    if (!r.theme.empty() && !isThemeName(theme)) {
        err("Error: Unknown theme '" + r.theme + "'; the themes are dark, light, blueprint and paper\n");
        return 1;
    }
    int width = kDefaultWidth;
    if (!r.width.empty() && (!parseWidth(r.width, width) || width < kMinWidth || width > kMaxWidth)) {
        err("Error: --width takes a whole number of pixels from " + std::to_string(kMinWidth) + " to " +
            std::to_string(kMaxWidth) + ", not '" + r.width + "'\n");
        return 1;
    }
    const DrawingWriters& writers = drawingWriters();
    if ((r.format == "pdf" && !writers.pdf) || (r.format == "png" && !writers.png)) {
        err("Error: --" + r.format + " is not available in this build\n");
        return 1;
    }

    SchematicPtr s = open(r.file);
    if (!s) return 1;
    Settings settings = readSettings();
    // Printed pages want a light background unless asked otherwise; nothing is saved.
    if (!theme.empty())
        settings.theme = theme;
    else if (r.format == "pdf")
        settings.theme = "paper";

    std::vector<int> sheets;
    if (!r.sheet.empty()) {
        std::string error;
        const int sheet = resolveSheetArgument(*s, r.sheet, &error);
        if (sheet < 0) {
            err("Error: " + error + "\n");
            return 1;
        }
        sheets.push_back(sheet);
    }

    if (r.format == "pdf") {
        if (sheets.empty())
            for (size_t i = 0; i < s->sheets.size(); ++i) sheets.push_back(static_cast<int>(i));
        if (refused(r.out, *s, r)) return 1;
        std::string error;
        if (!writers.pdf(*s, sheets, settings, r.out, &error)) {
            err("Error: " + error + "\n");
            return 1;
        }
        std::error_code ec;
        out(wrote(r.out, std::filesystem::file_size(r.out, ec)));
        return 0;
    }

    std::error_code ec;
    if (!std::filesystem::is_directory(r.out, ec))
        return writeSheet(*s, sheets.empty() ? 0 : sheets[0], r, settings, width, r.out);
    if (sheets.empty())
        for (size_t i = 0; i < s->sheets.size(); ++i) sheets.push_back(static_cast<int>(i));
    if (sheets.empty()) {
        err("Error: the design has no sheets\n");
        return 1;
    }
    const std::vector<std::string> names = sheetFileNames(*s, sheets, "." + r.format);
    for (size_t i = 0; i < sheets.size(); ++i) {
        const int status =
            writeSheet(*s, sheets[i], r, settings, width, (std::filesystem::path(r.out) / names[i]).string());
        if (status != 0) return status;
    }
    return 0;
}

}  // namespace

// The writers' font caches go with the run: nothing draws after a command.
int runDrawingRequest(const DrawingRequest& r, const DesignOpener& open, const SettingsReader& settings) {
    const int status = runRequest(r, open, settings);
    if (drawingWriters().release) drawingWriters().release();
    return status;
}

}  // namespace nl
