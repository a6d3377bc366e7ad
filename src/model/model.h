// The in-memory form of one loaded design. Plain records with public fields;
// records refer to each other by index (-1 = none), never by pointer, so a
// design can be copied, dumped and walked freely. Lengths are millimetres,
// sheet space has x to the right and y downwards.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nl {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

// Bounding boxes are {min x, min y, max x, max y}.
struct BBox {
    double min_x = 1e9, min_y = 1e9, max_x = -1e9, max_y = -1e9;
    bool valid() const { return max_x >= min_x && max_y >= min_y; }
    void add(Point p) {
        if (p.x < min_x) min_x = p.x;
        if (p.y < min_y) min_y = p.y;
        if (p.x > max_x) max_x = p.x;
        if (p.y > max_y) max_y = p.y;
    }
};

// Electrical pin types are kept as their file tokens.
namespace PinType {
inline constexpr const char* Input = "input";
inline constexpr const char* Output = "output";
inline constexpr const char* Bidirectional = "bidirectional";
inline constexpr const char* TriState = "tri_state";
inline constexpr const char* Passive = "passive";
inline constexpr const char* Free = "free";
inline constexpr const char* Unspecified = "unspecified";
inline constexpr const char* PowerIn = "power_in";
inline constexpr const char* PowerOut = "power_out";
inline constexpr const char* OpenCollector = "open_collector";
inline constexpr const char* OpenEmitter = "open_emitter";
inline constexpr const char* NoConnect = "no_connect";
}  // namespace PinType

enum GraphicKind : int { Polyline = 1, Polygon = 2, Circle = 3, Text = 4 };

struct GraphicItem {
    int kind = Polyline;
    std::vector<Point> points;  // vertices, circle centre, or text anchor
    double radius = 0;
    double width = 0;  // 0 = the renderer's default
    bool fill_outline = false;
    bool fill_background = false;
    std::string text;
    double size = 1.27;
    double angle = 0;
    int h_justify = 0;  // -1 left, 0 centre, 1 right
    int v_justify = 0;  // -1 top, 0 centre, 1 bottom
    bool hidden = false;
    bool bold = false;
    int unit = 0;  // 0 = all units; on Schematic::graphics: the sheet index
    int body_style = 0;
    bool operator==(const GraphicItem&) const = default;
};

struct LibPin {
    std::string name;
    std::string number;
    std::string type = "passive";
    std::string shape = "line";
    Point position;  // library coordinates, y up
    double angle = 0;
    double length = 2.54;
    int unit = 0;
    int body_style = 0;
    bool hidden = false;
    double name_size = 0;  // 0 = not given in the file
    double number_size = 0;
    bool name_hidden = false;
    bool number_hidden = false;
    bool operator==(const LibPin&) const = default;
};

struct LibSymbol {
    std::string name;
    std::vector<GraphicItem> graphics;
    std::vector<LibPin> pins;
    std::map<std::string, std::string> properties;
    bool power = false;
    std::string extends;
    bool hide_pin_names = false;
    bool hide_pin_numbers = false;
    double pin_name_offset = 0.508;
    bool operator==(const LibSymbol&) const = default;
};

// A KiCad item's uuid as its 128 bits. A design holds one per placed pin,
// wire and label; as text each would cost a heap block. KiCad reads an
// 8-digit legacy time stamp as the uuid ending in those digits, and so does
// this; anything else, like the all-zero uuid, is no id.
struct ItemId {
    uint64_t high = 0;
    uint64_t low = 0;
    static ItemId parse(std::string_view text);
    std::string text() const;  // lower-case 8-4-4-4-12 form; empty for no id
    bool empty() const { return high == 0 && low == 0; }
    bool operator==(const ItemId&) const = default;
};

struct Pin {
    std::string name;
    std::string number;
    std::string type = "passive";
    std::string shape = "line";
    Point position;  // connection point (outer end)
    Point end;       // inner end, where the pin meets the body
    double angle = 0;
    double length = 2.54;
    int net = -1;
    bool no_connect = false;
    bool hidden = false;
    bool implicit_power = false;
    double name_size = 0;
    double number_size = 0;
    bool name_hidden = false;
    bool number_hidden = false;
    ItemId uuid{};  // as the file names the placed pin; empty when it does not
};

struct Component {
    std::string reference;
    std::string value;
    std::string footprint;
    std::string datasheet;
    std::string description;
    std::string lib_id;
    std::string uuid;
    Point position;
    double rotation = 0;
    bool mirror_x = false;
    bool mirror_y = false;
    int unit = 1;
    int body_style = 1;
    bool dnp = false;
    bool power_symbol = false;
    bool in_bom = true;
    std::map<std::string, std::string> properties;
    std::vector<GraphicItem> graphics;  // sheet coordinates
    std::vector<GraphicItem> fields;    // property texts, sheet coordinates
    std::vector<Pin> pins;
    int sheet = 0;
    BBox bbox;
    // The library symbol it was drawn from (its lib_name when that differs
    // from lib_id); -1 when none was found. Not reported anywhere.
    int lib_symbol = -1;
};

struct Sheet {
    std::string name;
    std::string file;
    std::string uuid;
    std::string paper;
    // "User" paper gives its own width and height (mm); 0 for the named sizes.
    Point paper_size;
    bool paper_portrait = false;  // a named size turned upright
    int parent = -1;
    BBox bbox;
    long long version = 0;  // the file's format version, 0 when absent
};

struct SheetSymbol {
    std::string name;
    std::string file;
    Point position;  // top-left corner on the parent sheet
    Point size;
    int sheet = 0;  // the parent sheet it is drawn on
    int child = -1;
    std::vector<int> pins;  // indices into Schematic::labels
    std::string uuid{};
};

struct Wire {
    Point a;
    Point b;
    int net = -1;
    int sheet = 0;
    bool bus = false;
    double width = 0;
    ItemId uuid{};  // shared by the segments of one polyline
};

struct Junction {
    Point position;
    int sheet = 0;
    int net = -1;
};

struct NoConnect {
    Point position;
    int sheet = 0;
};

struct BusEntry {
    Point position;
    Point size;
    int sheet = 0;
};

enum LabelKind : int { Local = 0, Global = 1, Hierarchical = 2, SheetPin = 3 };

struct Label {
    int kind = Local;
    std::string text;
    std::string shape;
    Point position;
    double angle = 0;
    double size = 1.27;
    int sheet = 0;
    int net = -1;
    int sheet_symbol = -1;
    ItemId uuid{};
};

struct TextItem {
    std::string text;
    Point position;
    double angle = 0;
    double size = 1.27;
    int sheet = 0;
    int h_justify = -1;
    int v_justify = 1;
};

struct Net {
    std::string name;
    std::string name_source;
    bool power = false;
    bool bus = false;
    std::vector<int> wires;
    std::vector<std::pair<int, int>> pins;  // (component, pin)
    std::vector<int> labels;
    std::vector<int> junctions;
    std::vector<int> sheets;
    std::vector<std::string> aliases;
};

struct Schematic {
    std::string title;
    std::string company;
    std::string date;
    std::string rev;
    std::string comment;
    std::string format;  // "kicad" or "eagle"
    std::string path;
    // Every sheet file embeds its own library symbols: equal copies are kept
    // once, copies that differ under one name once each. The index maps a name
    // to its first copy.
    std::vector<std::shared_ptr<LibSymbol>> lib_symbols;
    std::map<std::string, int> lib_symbol_index;
    std::vector<Sheet> sheets;
    std::vector<SheetSymbol> sheet_symbols;
    std::vector<Component> components;
    std::vector<Wire> wires;
    std::vector<Junction> junctions;
    std::vector<NoConnect> no_connects;
    std::vector<BusEntry> bus_entries;
    std::vector<Label> labels;
    std::vector<TextItem> texts;
    std::vector<GraphicItem> graphics;  // sheet drawings; unit = sheet index
    std::vector<Net> nets;
    std::vector<std::string> warnings;
    std::map<std::string, std::vector<std::string>> bus_aliases;
};

using SchematicPtr = std::shared_ptr<const Schematic>;

// Pin keys name one pin with a single integer (highlight sets).
inline long long pinKey(int component, int pin) { return (long long)component * 100000 + pin; }

// The placement coefficients (m0, m1, m2, m3) of a symbol: library point p
// maps to (m0*px + m1*py + X, m2*px + m3*py + Y).
struct Placement {
    double m0 = 1, m1 = 0, m2 = 0, m3 = -1;
    Point origin;
    Point apply(Point p) const { return {m0 * p.x + m1 * p.y + origin.x, m2 * p.x + m3 * p.y + origin.y}; }
    Point direction(Point d) const { return {m0 * d.x + m1 * d.y, m2 * d.x + m3 * d.y}; }
};

// Rounds to whole degrees (halves away from zero) and reduces to 0..359.
int roundedAngle(double degrees);

Placement placementOf(Point position, double rotation, bool mirror_x, bool mirror_y);

// A library pin placed on a component: position, end, angle and length are set;
// everything else is copied from the library pin.
Pin placePin(const LibPin& lib, const Placement& placement);

// A library text's placed angle: only ever 0 or 90.
double placedTextAngle(const Placement& placement, double library_angle);

// A sheet's place in the hierarchy as the sheet selector shows it: "/" for a
// KiCad root, "/amp/" for its child amp, "/amp/filter/" below that. Eagle
// sheets all stand at the top: "/Sheet 1/". Empty for an index out of range.
std::string sheetPath(const Schematic& s, int sheet);

// Fills every sheet's bbox from the records standing on it.
void computeSheetExtents(Schematic& s);

// Stores every component's bounding box in sheet millimetres, with a 0.3 mm margin.
void computeComponentBounds(Schematic& s);

// True for names that look like supply rails (GND, +5V, 3v3, VCC_IO, motor_vcc...).
bool isPowerNetName(std::string_view name);

}  // namespace nl
