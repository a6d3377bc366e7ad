// Eagle XML schematics: libraries, parts and their placed gates. The sheets'
// drawings and nets are read in eagle_sheets.cpp; this file ties it together
// and finally flips the design from Eagle's y-up space into sheet space.
#include "formats/eagle_loader.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "base/file_io.h"
#include "base/text.h"
#include "formats/eagle_internal.h"
#include "readers/xml.h"

namespace nl {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDefaultTextSize = 1.778;

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

Point pointOf(XmlNode n, const char* x, const char* y) { return {n.attrNum(x, 0), n.attrNum(y, 0)}; }

Point add(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }

struct EagleDeviceset {
    std::map<std::string, std::string> gates;  // gate name -> symbol name
    // device name -> gate name -> pin name -> pad names (blank-separated)
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> devices;
};

void readDeviceset(XmlNode node, EagleDeviceset& ds) {
    for (XmlNode g : node.child("gates").children())
        if (g.name() == "gate") ds.gates[g.attr("name")] = g.attr("symbol");
    for (XmlNode d : node.child("devices").children()) {
        if (d.name() != "device") continue;
        auto& connects = ds.devices[d.attr("name")];
        connects.clear();  // a repeated device replaces the earlier one
        for (XmlNode c : d.child("connects").children())
            if (c.name() == "connect") connects[c.attr("gate")][c.attr("pin")] = c.attr("pad");
    }
}

// Symbols and device sets are indexed up front and read on first use: a
// schematic's libraries often carry far more than its parts place.
struct EagleLibrary {
    std::map<std::string, std::vector<XmlNode>, std::less<>> symbol_nodes;
    std::map<std::string, XmlNode, std::less<>> deviceset_nodes;
    std::map<std::string, EagleSymbol, std::less<>> symbols;
    std::map<std::string, EagleDeviceset, std::less<>> devicesets;

    const EagleSymbol* symbol(const std::string& name) {
        if (auto it = symbols.find(name); it != symbols.end()) return &it->second;
        auto nodes = symbol_nodes.find(name);
        if (nodes == symbol_nodes.end()) return nullptr;
        EagleSymbol& sym = symbols[name];
        for (XmlNode n : nodes->second) readEagleSymbol(n, sym);  // a repeated name adds its items
        return &sym;
    }
    const EagleDeviceset* deviceset(const std::string& name) {
        if (auto it = devicesets.find(name); it != devicesets.end()) return &it->second;
        auto node = deviceset_nodes.find(name);
        if (node == deviceset_nodes.end()) return nullptr;
        EagleDeviceset& ds = devicesets[name];
        readDeviceset(node->second, ds);
        return &ds;
    }
};

void indexLibrary(XmlNode lib, EagleLibrary& out) {
    for (XmlNode s : lib.child("symbols").children())
        if (s.name() == "symbol") out.symbol_nodes[s.attr("name")].push_back(s);
    for (XmlNode d : lib.child("devicesets").children())
        if (d.name() == "deviceset") out.deviceset_nodes[d.attr("name")] = d;
}

struct EaglePart {
    std::string library;
    std::string deviceset;
    std::string device;
    std::string value;
    std::map<std::string, std::string> attributes;
    EagleLibrary* lib = nullptr;
    size_t records = 1;  // what each instance copies: the component and the part's texts
};

// The value Eagle shows for a part without one: the device set name with its
// "*" standing for the technology and its "?" for the device (appended when absent).
std::string defaultPartValue(const std::string& deviceset, const std::string& technology, const std::string& device) {
    std::string v = deviceset;
    if (size_t star = v.find('*'); star != std::string::npos) v.replace(star, 1, technology);
    if (size_t q = v.find('?'); q != std::string::npos)
        v.replace(q, 1, device);
    else
        v += device;
    return v;
}

std::vector<std::string_view> splitBlanks(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i])) ++i;
        size_t start = i;
        while (i < s.size() && !isBlank(s[i])) ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

std::string pinType(std::string_view direction) {
    if (direction == "in") return PinType::Input;
    if (direction == "out") return PinType::Output;
    if (direction == "io") return PinType::Bidirectional;
    if (direction == "oc") return PinType::OpenCollector;
    if (direction == "pwr") return PinType::PowerIn;
    if (direction == "sup") return PinType::PowerOut;
    if (direction == "hiz") return PinType::TriState;
    if (direction == "nc") return PinType::NoConnect;
    return PinType::Passive;
}

std::string pinShape(std::string_view function, std::string_view visible) {
    std::string shape = function == "dot"      ? "inverted"
                        : function == "clk"    ? "clock"
                        : function == "dotclk" ? "inverted_clock"
                                               : "line";
    if (visible == "off")
        shape += "|hidename|hidenum";
    else if (visible == "pad")
        shape += "|hidename";
    else if (visible == "pin")
        shape += "|hidenum";
    return shape;
}

// The library shape without its visibility suffix, plus the placed pin's marker.
std::string placedPinShape(const std::string& lib) {
    const size_t bar = lib.find('|');
    std::string shape = lib.substr(0, bar);
    if (bar == std::string::npos) return shape;
    const bool noName = lib.find("hidename", bar) != std::string::npos;
    const bool noNum = lib.find("hidenum", bar) != std::string::npos;
    if (noName && noNum)
        shape += "|quiet";
    else if (noName)
        shape += "|noname";
    else if (noNum)
        shape += "|nonum";
    return shape;
}

class Loader {
public:
    explicit Loader(EagleLoad& load) : load_(load), sch_(load.sch) {}

    void readLibraries(XmlNode schematic) {
        for (XmlNode lib : schematic.child("libraries").children()) {
            if (lib.name() != "library") continue;
            // Libraries of one name are told apart by their urn; the same pair again replaces the earlier one.
            std::string name = lib.attr("name");
            EagleLibrary& entry = libraries_[{name, lib.attr("urn")}];
            entry = EagleLibrary{};
            indexLibrary(lib, entry);
            lastByName_[std::move(name)] = &entry;
        }
    }

    void readParts(XmlNode schematic) {
        for (XmlNode node : schematic.child("parts").children()) {
            if (node.name() != "part") continue;
            EaglePart p;
            p.library = node.attr("library");
            p.deviceset = node.attr("deviceset");
            p.device = node.attr("device");
            p.value = node.hasAttr("value") ? node.attr("value")
                                            : defaultPartValue(p.deviceset, node.attr("technology"), p.device);
            for (XmlNode a : node.children())
                if (a.name() == "attribute") p.attributes[a.attr("name")] = a.attr("value");
            size_t textBytes = p.value.size() + p.library.size() + p.deviceset.size() + p.device.size();
            for (const auto& [name, value] : p.attributes) textBytes += name.size() + value.size();
            p.records = 1 + textBytes / 64;
            auto lib = libraries_.find({p.library, node.attr("library_urn")});
            if (lib != libraries_.end()) {
                p.lib = &lib->second;
            } else if (auto last = lastByName_.find(p.library); last != lastByName_.end()) {
                p.lib = last->second;
            }
            parts_[node.attr("name")] = std::move(p);
        }
    }

    void readInstances(XmlNode sheet, int s) {
        for (XmlNode inst : sheet.child("instances").children())
            if (inst.name() == "instance") readInstance(inst, s);
    }

    void finish();

private:
    void readInstance(XmlNode inst, int s);
    void placeSymbol(XmlNode inst, const EagleSymbol& sym, const EaglePart& part, Component& c,
                     const std::map<std::string, std::string>* connects, bool mirror, double rotation);

    EagleLoad& load_;
    Schematic& sch_;
    std::map<std::pair<std::string, std::string>, EagleLibrary> libraries_;  // (name, urn)
    std::map<std::string, EagleLibrary*> lastByName_;
    std::map<std::string, EaglePart, std::less<>> parts_;
};

void Loader::readInstance(XmlNode inst, int s) {
    const std::string partName = inst.attr("part");
    auto found = parts_.find(partName);
    if (found == parts_.end()) {
        sch_.warnings.push_back("Instance of unknown part " + partName);
        return;
    }
    const EaglePart& part = found->second;
    const std::string gate = inst.attr("gate");
    if (!load_.budget.charge(part.records)) return;  // the load fails; nothing more is made

    Component c;
    c.position = pointOf(inst, "x", "y");
    if (farOff(c.position)) {
        ++load_.budget.far_items;
        return;
    }
    c.reference = partName;
    c.value = part.value;
    c.lib_id = part.library + ":" + part.deviceset;
    c.footprint = part.device;
    const EagleRotation rot = parseEagleRotation(inst.attr("rot", "R0"));
    c.rotation = rot.angle;
    c.mirror_y = rot.mirror;
    c.sheet = s;
    c.properties = part.attributes;
    c.properties["Gate"] = gate;
    c.properties["Device"] = part.device;

    const EagleDeviceset* ds = part.lib ? part.lib->deviceset(part.deviceset) : nullptr;
    const EagleSymbol* sym = nullptr;
    const std::map<std::string, std::string>* connects = nullptr;
    if (ds) {
        if (auto g = ds->gates.find(gate); g != ds->gates.end()) {
            c.unit = static_cast<int>(std::distance(ds->gates.begin(), g)) + 1;  // gate names in sorted order
            sym = part.lib->symbol(g->second);
        }
        if (auto d = ds->devices.find(part.device); d != ds->devices.end())
            if (auto cg = d->second.find(gate); cg != d->second.end()) connects = &cg->second;
    }

    if (!sym) {
        sch_.warnings.push_back("Symbol for " + partName + " (" + part.library + ":" + part.deviceset +
                                ") not found; drawn as a box");
        GraphicItem box;
        box.kind = Polygon;
        for (Point corner : {Point{-2.54, -2.54}, Point{2.54, -2.54}, Point{2.54, 2.54}, Point{-2.54, 2.54}})
            box.points.push_back(add(corner, c.position));
        c.graphics.push_back(std::move(box));
    } else {
        placeSymbol(inst, *sym, part, c, connects, rot.mirror, rot.angle);
    }

    if (c.power_symbol && c.value.empty()) c.value = part.deviceset;
    load_.instances[eagleInstanceKey(partName, gate)] = static_cast<int>(sch_.components.size());
    sch_.components.push_back(std::move(c));
}

void Loader::placeSymbol(XmlNode inst, const EagleSymbol& sym, const EaglePart& part, Component& c,
                         const std::map<std::string, std::string>* connects, bool mirror, double rotation) {
    auto place = [&](Point p) { return add(eagleTransform(p, mirror, rotation), c.position); };
    size_t records = 0;
    for (const GraphicItem& item : sym.graphics) records += recordsOf(item);
    // The load fails once the budget is spent; the instance is then left empty.
    if (!load_.budget.charge(records)) return;
    // Items beyond any drawing are left out (and counted for the warning).
    auto keep = [&](std::vector<GraphicItem>& items, GraphicItem&& g) {
        if (farOff(g))
            ++load_.budget.far_items;
        else
            items.push_back(std::move(g));
    };
    c.graphics.reserve(sym.graphics.size());
    c.pins.reserve(sym.pins.size());

    // Texts are placed as Eagle shows them, from their own and the part's rotation.
    auto pose = [&](GraphicItem& g, size_t i) {
        const EagleTextPose tp = eagleTextPose(
            i < sym.rotations.size() ? sym.rotations[i] : EagleRotation{},
            i < sym.aligns.size() ? sym.aligns[i] : EagleAlign{g.h_justify, g.v_justify}, mirror, rotation);
        g.angle = tp.angle;
        g.h_justify = tp.h_justify;
        g.v_justify = tp.v_justify;
    };
    for (size_t i = 0; i < sym.graphics.size(); ++i) {
        const GraphicItem& item = sym.graphics[i];
        const bool placeholder = item.kind == Text && item.text.size() > 1 && item.text[0] == '>';
        if (placeholder) {
            // Eagle matches placeholders and attribute names in any case (">Name" is >NAME).
            const std::string key = item.text.substr(1);
            GraphicItem f = item;
            auto attribute = part.attributes.end();
            for (auto it = part.attributes.begin(); it != part.attributes.end(); ++it)
                if (equalsNoCase(it->first, key)) attribute = it;
            const bool name = equalsNoCase(key, "NAME") || equalsNoCase(key, "PART");
            const bool value = equalsNoCase(key, "VALUE");
            std::string frameText;
            // A drawing frame's own texts (sheet number, date...) belong to its drawing, not to the part's fields.
            const bool frame = !name && !value && attribute == part.attributes.end() &&
                               eagleFrameText(load_.frame, key, c.sheet, frameText);
            f.text = name                                 ? c.reference
                     : value                              ? c.value
                     : frame                              ? std::move(frameText)
                     : attribute == part.attributes.end() ? std::string()
                                                          : attribute->second;
            std::vector<GraphicItem>& target = frame ? c.graphics : c.fields;
            XmlNode own;
            for (XmlNode a : inst.children())
                if (a.name() == "attribute" && equalsNoCase(a.attr("name"), key)) {
                    own = a;
                    break;
                }
            if (own) {
                // The instance's own placement of this text, in sheet coordinates as written.
                f.points = {pointOf(own, "x", "y")};
                f.size = own.attrNum("size", item.size);
                const EagleTextPose tp = eagleTextPose(parseEagleRotation(own.attr("rot", "R0")),
                                                       parseEagleAlign(own.attr("align", "bottom-left")));
                f.angle = tp.angle;
                f.h_justify = tp.h_justify;
                f.v_justify = tp.v_justify;
                f.hidden = own.attr("display") == "off";
                keep(target, std::move(f));
                continue;
            }
            for (Point& p : f.points) p = place(p);
            pose(f, i);
            if (!f.text.empty()) keep(target, std::move(f));
            continue;
        }
        GraphicItem g = item;
        for (Point& p : g.points) p = place(p);
        if (g.kind == Text) pose(g, i);
        keep(c.graphics, std::move(g));
    }

    for (const LibPin& lp : sym.pins) {
        const double a = lp.angle * kPi / 180.0;
        const Point dir = eagleTransform({std::cos(a), std::sin(a)}, mirror, rotation);
        Pin pin;
        pin.name = lp.name;
        pin.type = lp.type;
        pin.length = lp.length;
        pin.position = place(lp.position);
        pin.end = {pin.position.x + lp.length * dir.x, pin.position.y + lp.length * dir.y};
        if (farOff(pin.position) || farOff(pin.end)) {
            ++load_.budget.far_items;
            continue;
        }
        pin.shape = placedPinShape(lp.shape);
        // A pin wired to several pads becomes one pin per pad, in the order written.
        const auto pad = connects ? connects->find(lp.name) : std::map<std::string, std::string>::const_iterator();
        if (!connects || pad == connects->end()) {
            if (!load_.budget.charge(recordsOf(lp))) break;
            pin.number = lp.name;
            c.pins.push_back(std::move(pin));
            continue;
        }
        std::vector<std::string_view> pads = splitBlanks(pad->second);
        if (pads.empty()) pads.push_back(pad->second);
        if (!load_.budget.charge(pads.size() * recordsOf(lp))) break;
        for (std::string_view number : pads) {
            Pin each = pin;
            each.number = std::string(number);
            c.pins.push_back(std::move(each));
        }
    }

    // A power symbol is a part whose pins are all supply outputs (a regulator with one
    // "sup" pin among others is not); it is named by its first pin when it has no value.
    c.power_symbol = !c.pins.empty() && std::all_of(c.pins.begin(), c.pins.end(),
                                                    [](const Pin& p) { return p.type == PinType::PowerOut; });
    if (c.power_symbol && c.value.empty()) c.value = c.pins.front().name;
}

void Loader::finish() {
    auto flip = [](Point& p) { p.y = -p.y; };
    auto flipItems = [&](std::vector<GraphicItem>& items) {
        for (GraphicItem& g : items) {
            for (Point& p : g.points) flip(p);
            if (g.kind == Polygon) std::reverse(g.points.begin(), g.points.end());
        }
    };
    for (Component& c : sch_.components) {
        flip(c.position);
        flipItems(c.graphics);
        flipItems(c.fields);
        for (Pin& p : c.pins) {
            flip(p.position);
            flip(p.end);
            p.angle = std::atan2(p.end.y - p.position.y, p.end.x - p.position.x) * 180.0 / kPi;
        }
    }
    for (Wire& w : sch_.wires) flip(w.a), flip(w.b);
    for (Junction& j : sch_.junctions) flip(j.position);
    for (Label& l : sch_.labels) flip(l.position);
    for (TextItem& t : sch_.texts) flip(t.position);
    flipItems(sch_.graphics);

    for (Component& c : sch_.components)
        for (Pin& p : c.pins)
            if (p.type == PinType::NoConnect) {
                p.no_connect = true;
                p.type = PinType::Unspecified;
            }

    for (size_t ci = 0; ci < sch_.components.size(); ++ci) {
        Component& c = sch_.components[ci];
        for (size_t pi = 0; pi < c.pins.size(); ++pi) {
            Pin& p = c.pins[pi];
            if (p.net >= 0) continue;
            Net n;
            n.name = "Net-(" + c.reference + "-Pad" + p.number + ")";
            n.name_source = "auto";
            n.pins.push_back({static_cast<int>(ci), static_cast<int>(pi)});
            n.sheets.push_back(c.sheet);
            p.net = static_cast<int>(sch_.nets.size());
            sch_.nets.push_back(std::move(n));
        }
    }

    for (Net& n : sch_.nets)
        if (!n.power) n.power = isPowerNetName(n.name);

    computeComponentBounds(sch_);
    computeSheetExtents(sch_);
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::shared_ptr<Schematic> fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return nullptr;
}

std::shared_ptr<Schematic> loadDocument(XmlNode root, XmlNode schematic, size_t textSize, const std::string& path,
                                        std::string* error) {
    auto sch = std::make_shared<Schematic>();
    sch->format = "eagle";
    sch->path = path;
    sch->title = fileNameOf(path);
    sch->rev = "Eagle " + root.attr("version");

    LoadBudget budget(textSize);
    EagleLoad load{*sch, {}, {}, {}, {}, budget};
    const std::string& name = sch->title;
    load.frame.drawing_name = name.substr(0, std::min(name.size(), name.rfind('.')));
    load.frame.modified = fileModifiedText(path);
    Loader loader(load);
    loader.readLibraries(schematic);
    loader.readParts(schematic);
    const XmlNode sheets = schematic.child("sheets");
    if (!sheets) return fail(error, "Eagle schematic has no sheets");
    for (XmlNode sheet : sheets.children()) load.frame.sheets += sheet.name() == "sheet";
    int s = 0;
    for (XmlNode sheet : sheets.children()) {
        if (sheet.name() != "sheet") continue;
        readEagleSheet(load, sheet, s);
        loader.readInstances(sheet, s);
        readEagleNets(load, sheet.child("nets"), "net", false, s);
        readEagleNets(load, sheet.child("busses"), "bus", true, s);
        ++s;
    }
    if (budget.exceeded) return fail(error, budget.message());
    loader.finish();
    if (budget.far_items) sch->warnings.push_back(farItemsWarning(budget.far_items));
    return sch;
}

}  // namespace

EagleRotation parseEagleRotation(std::string_view text) {
    EagleRotation r;
    size_t i = 0;
    if (i < text.size() && text[i] == 'S') r.spin = true, ++i;
    if (i < text.size() && text[i] == 'M') r.mirror = true, ++i;
    if (i < text.size() && text[i] == 'R') ++i;
    double a = 0;
    if (parseDouble(text.substr(i), a) && std::isfinite(a)) r.angle = a;
    return r;
}

EagleTextPose eagleTextPose(const EagleRotation& text, const EagleAlign& align, bool part_mirror, double part_angle) {
    // The reading and glyph-up directions through the text's own turn, then the part's.
    auto through = [&](Point d) {
        return eagleTransform(eagleTransform(d, text.mirror, text.angle), part_mirror, part_angle);
    };
    Point reading = through({1, 0});
    const Point up = through({0, 1});
    EagleTextPose pose{0, align.h_justify, align.v_justify};
    if (reading.x * up.y - reading.y * up.x < 0) {
        // Mirrored: the same place, read the other way.
        reading = {-reading.x, -reading.y};
        pose.h_justify = -pose.h_justify;
    }
    double angle = std::atan2(reading.y, reading.x) * 180.0 / kPi;
    // Whole degrees come back whole despite the trigonometry.
    if (std::fabs(angle - std::round(angle)) < 1e-9) angle = std::round(angle);
    if (angle < 0) angle += 360;
    if (!text.spin && angle > 90 && angle <= 270) {
        angle = angle >= 180 ? angle - 180 : angle + 180;
        pose.h_justify = -pose.h_justify;
        pose.v_justify = -pose.v_justify;
    }
    pose.angle = angle;
    return pose;
}

Point eagleTransform(Point p, bool mirror, double angle) {
    const double a = angle * kPi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    Point q{p.x * c - p.y * s, p.x * s + p.y * c};
    if (mirror) q.x = -q.x;
    return q;
}

EagleAlign parseEagleAlign(std::string_view text) {
    EagleAlign r;
    auto has = [&](std::string_view part) { return text.find(part) != std::string_view::npos; };
    if (has("center") && !has("-")) return {0, 0};
    if (has("top")) r.v_justify = -1;
    if (has("bottom")) r.v_justify = 1;
    if (has("-center")) r.h_justify = 0;
    if (has("center-")) r.v_justify = 0;
    if (has("right")) r.h_justify = 1;
    if (has("left")) r.h_justify = -1;
    return r;
}

std::vector<Point> eagleArc(Point a, Point b, double curve) {
    if (std::fabs(curve) < 0.01 || !std::isfinite(curve)) return {a, b};
    const double theta = curve * kPi / 180.0;
    const double d = std::hypot(b.x - a.x, b.y - a.y);
    const double r = d / (2 * std::sin(theta / 2));
    const double h = r * std::cos(theta / 2);
    if (d == 0 || !std::isfinite(r) || !std::isfinite(h)) return {a, b};
    const Point centre{(a.x + b.x) / 2 + h * -(b.y - a.y) / d, (a.y + b.y) / 2 + h * (b.x - a.x) / d};
    const double a0 = std::atan2(a.y - centre.y, a.x - centre.x);
    // Eagle curves stay within one turn (at most 62 steps); the cap keeps a
    // hostile value from turning one short element into thousands of points.
    const int n = static_cast<int>(std::clamp(std::trunc(std::fabs(theta) * 10), 4.0, 64.0));
    std::vector<Point> pts;
    pts.reserve(n + 1);
    for (int i = 0; i <= n; ++i) {
        const double t = a0 + i * theta / n;
        pts.push_back({centre.x + std::fabs(r) * std::cos(t), centre.y + std::fabs(r) * std::sin(t)});
    }
    return pts;
}

void readEagleSymbol(XmlNode symbol, EagleSymbol& target) {
    for (XmlNode item : symbol.children()) {
        const std::string_view kind = item.name();
        if (kind == "pin") {
            LibPin p;
            p.name = item.attr("name");
            p.number = p.name;
            p.position = pointOf(item, "x", "y");
            p.angle = parseEagleRotation(item.attr("rot", "R0")).angle;
            const std::string length = item.attr("length", "middle");
            p.length = length == "point" ? 0 : length == "short" ? 2.54 : length == "long" ? 7.62 : 5.08;
            p.type = pinType(item.attr("direction", "io"));
            p.shape = pinShape(item.attr("function", "none"), item.attr("visible", "both"));
            target.pins.push_back(std::move(p));
            continue;
        }
        GraphicItem g;
        EagleRotation rotation;
        EagleAlign align;
        if (kind == "wire") {
            g.kind = Polyline;
            g.width = item.attrNum("width", 0);
            g.points = eagleArc(pointOf(item, "x1", "y1"), pointOf(item, "x2", "y2"), item.attrNum("curve", 0));
        } else if (kind == "rectangle") {
            g.kind = Polygon;
            g.fill_outline = true;
            const double x1 = item.attrNum("x1", 0), y1 = item.attrNum("y1", 0);
            const double x2 = item.attrNum("x2", 0), y2 = item.attrNum("y2", 0);
            g.points = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
            if (item.hasAttr("rot")) {
                const EagleRotation r = parseEagleRotation(item.attr("rot"));
                const Point centre{(x1 + x2) / 2, (y1 + y2) / 2};
                for (Point& p : g.points)
                    p = add(eagleTransform({p.x - centre.x, p.y - centre.y}, r.mirror, r.angle), centre);
            }
        } else if (kind == "circle") {
            g.kind = Circle;
            g.points = {pointOf(item, "x", "y")};
            g.radius = item.attrNum("radius", 0);
            g.width = item.attrNum("width", 0);
            g.fill_outline = g.width <= 0;
        } else if (kind == "polygon") {
            g.kind = Polygon;
            g.width = item.attrNum("width", 0);
            g.fill_outline = true;
            for (XmlNode v : item.children())
                if (v.name() == "vertex") g.points.push_back(pointOf(v, "x", "y"));
            if (g.points.size() < 3) continue;
        } else if (kind == "text") {
            g.kind = Text;
            g.text = trim(item.text());
            g.points = {pointOf(item, "x", "y")};
            g.size = item.attrNum("size", kDefaultTextSize);
            rotation = parseEagleRotation(item.attr("rot", "R0"));
            g.angle = rotation.angle;
            align = parseEagleAlign(item.attr("align", "bottom-left"));
            g.h_justify = align.h_justify;
            g.v_justify = align.v_justify;
        } else {
            continue;
        }
        target.graphics.push_back(std::move(g));
        target.rotations.push_back(rotation);
        target.aligns.push_back(align);
    }
}

std::shared_ptr<Schematic> loadEagleSchematic(std::string_view text, const std::string& path, std::string* error) {
    XmlDocument doc;
    try {
        doc = parseXml(nullptr, text);  // `text` outlives the document
    } catch (const std::exception& e) {
        return fail(error, std::string("XML parse error: ") + e.what());
    }
    const XmlNode root = doc.root();
    if (root.name() != "eagle")
        return fail(error, "Not an Eagle file (root element is <" + std::string(root.name()) + ">)");
    const XmlNode schematic = root.child("drawing").child("schematic");
    if (!schematic) return fail(error, "This Eagle file has no <schematic> (is it a board or library?)");

    try {
        return loadDocument(root, schematic, text.size(), path, error);
    } catch (const std::bad_alloc&) {
        return fail(error, "Not enough memory to load this Eagle file");
    }
}

}  // namespace nl
