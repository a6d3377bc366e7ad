// The drawing commands of the command line: --svg, --png and --pdf with their
// modifiers (--sheet, --theme, --frame, --width), the choice of sheets and the
// names of the files written into a folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/model.h"
#include "settings/settings.h"

namespace nl {

struct DrawingRequest {
    std::string format;  // "svg", "png" or "pdf"
    std::string file;
    std::string out;
    std::string sheet;  // as given; empty: the root (SVG, PNG) or every sheet (PDF)
    std::string theme;  // as given; empty: the settings' (SVG, PNG) or paper (PDF)
    bool frame = false;
    std::string width;  // as given; empty: 2000
};

// args as the command line holds them: the option first, then <file> <out> and
// the modifiers. False when a modifier is unknown, not for this format, or
// lacks its value: the caller prints the usage.
bool parseDrawingRequest(const std::vector<std::string>& args, DrawingRequest& request);

// The sheet named by a sheet index as the JSON dump numbers sheets, a path as
// sheetPath writes it or as the window shows it (the last "/" may be left
// out), or a name (exact first, then ignoring case). -1 with a message that
// lists the sheets when nothing or more than one sheet fits.
int resolveSheetArgument(const Schematic& s, const std::string& wanted, std::string* error);

// A file name for each of `sheets`, from the design's file name and the
// sheet's path ("video", "video-muxdata"), with `extension` (".svg").
// Safe on Windows and Linux and unique even where case is ignored.
std::vector<std::string> sheetFileNames(const Schematic& s, const std::vector<int>& sheets,
                                        const std::string& extension);

// Opens the design of a command; reports its own failure and gives null.
using DesignOpener = std::function<SchematicPtr(const std::string& file)>;
// The settings a drawing uses; reports a damaged settings file itself.
using SettingsReader = std::function<Settings()>;

// Runs a parsed request: writes the files, one "Wrote" line each, and
// returns the exit status. A file of the design itself is never written over.
// The command line's alone: it ends by releasing the writers' font caches,
// which nothing may use afterwards.
int runDrawingRequest(const DrawingRequest& request, const DesignOpener& open, const SettingsReader& settings);

}  // namespace nl
