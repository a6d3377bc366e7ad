// Eagle sheets: the sheet records, their free drawing, and the explicit nets and
// busses with the pins they reference.
#include <string>

#include "base/text.h"
#include "formats/eagle_internal.h"
#include "formats/eagle_loader.h"

namespace nl {

namespace {

constexpr double kDefaultTextSize = 1.778;
// Parts with at most this many pins are searched by name pin by pin.
constexpr size_t kPinsScanned = 32;

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

Point pointOf(XmlNode n, const char* x, const char* y) { return {n.attrNum(x, 0), n.attrNum(y, 0)}; }

GraphicItem rectangleOf(XmlNode n, bool filled) {
    GraphicItem g;
    g.kind = Polygon;
    const double x1 = n.attrNum("x1", 0), y1 = n.attrNum("y1", 0), x2 = n.attrNum("x2", 0), y2 = n.attrNum("y2", 0);
    g.points = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
    g.fill_outline = filled;
    return g;
}

}  // namespace

bool eagleFrameText(const EagleFrameTexts& frame, std::string_view key, int sheet, std::string& out) {
    const std::string total = std::to_string(frame.sheets);
    // Eagle matches placeholders in any case, as it does attribute names.
    if (equalsNoCase(key, "DRAWING_NAME"))
        out = frame.drawing_name;
    else if (equalsNoCase(key, "LAST_DATE_TIME"))
        out = frame.modified;
    else if (equalsNoCase(key, "SHEET"))
        out = std::to_string(sheet + 1) + "/" + total;
    else if (equalsNoCase(key, "SHEETS") || equalsNoCase(key, "SHEET_TOTAL"))
        out = total;
    else
        return false;
    return true;
}

std::string eagleSheetName(XmlNode sheet, int sheetIndex) {
    std::string name;
    if (XmlNode d = sheet.child("description")) {
        // Descriptions are often written over several lines; each run of white space becomes one blank.
        std::string_view text = d.text();
        while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
        while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
        // The text is trimmed, so it starts with a non-blank; nothing past 40 bytes is kept.
        for (size_t i = 0; i < text.size() && name.size() < 40; ++i) {
            if (!isBlank(text[i]))
                name.push_back(text[i]);
            else if (name.back() != ' ')
                name.push_back(' ');
        }
    }
    if (name.empty()) return "Sheet " + std::to_string(sheetIndex + 1);
    return name;
}

void readEagleSheet(EagleLoad& load, XmlNode sheet, int s) {
    Schematic& sch = load.sch;
    Sheet rec;
    rec.name = eagleSheetName(sheet, s);
    rec.file = sch.title;
    sch.sheets.push_back(std::move(rec));

    for (XmlNode item : sheet.child("plain").children()) {
        const std::string_view kind = item.name();
        if (kind == "text") {
            TextItem t;
            t.text = trim(item.text());
            if (std::string frame; t.text.size() > 1 && t.text[0] == '>' &&
                                   eagleFrameText(load.frame, std::string_view(t.text).substr(1), s, frame))
                t.text = std::move(frame);
            t.position = pointOf(item, "x", "y");
            t.size = item.attrNum("size", kDefaultTextSize);
            const EagleTextPose pose = eagleTextPose(parseEagleRotation(item.attr("rot", "R0")),
                                                     parseEagleAlign(item.attr("align", "bottom-left")));
            t.angle = pose.angle;
            t.h_justify = pose.h_justify;
            t.v_justify = pose.v_justify;
            t.sheet = s;
            if (farOff(t.position) || farOff(t.size))
                ++load.budget.far_items;
            else
                sch.texts.push_back(std::move(t));
            continue;
        }
        GraphicItem g;
        if (kind == "wire") {
            g.kind = Polyline;
            g.width = item.attrNum("width", 0);
            g.points = eagleArc(pointOf(item, "x1", "y1"), pointOf(item, "x2", "y2"), item.attrNum("curve", 0));
        } else if (kind == "frame" || kind == "rectangle") {
            g = rectangleOf(item, kind == "rectangle");
        } else if (kind == "circle") {
            g.kind = Circle;
            g.points = {pointOf(item, "x", "y")};
            g.radius = item.attrNum("radius", 0);
        } else {
            continue;
        }
        g.unit = s;
        if (farOff(g))
            ++load.budget.far_items;
        else
            sch.graphics.push_back(std::move(g));
    }
}

void readEagleNets(EagleLoad& load, XmlNode container, std::string_view elementName, bool bus, int s) {
    Schematic& sch = load.sch;
    for (XmlNode netNode : container.children()) {
        if (netNode.name() != elementName) continue;
        std::string name = netNode.attr("name");
        auto [it, isNew] = load.netsByName.try_emplace({name, bus}, static_cast<int>(sch.nets.size()));
        const int netIndex = it->second;
        if (isNew) {
            Net n;
            n.name_source = name.rfind("N$", 0) == 0 ? "auto" : "eagle";
            n.name = std::move(name);
            n.bus = bus;
            sch.nets.push_back(std::move(n));
        }
        for (XmlNode segment : netNode.children()) {
            if (segment.name() != "segment") continue;
            for (XmlNode item : segment.children()) {
                const std::string_view kind = item.name();
                if ((kind == "wire" && (farOff(pointOf(item, "x1", "y1")) || farOff(pointOf(item, "x2", "y2")))) ||
                    ((kind == "junction" || kind == "label") && farOff(pointOf(item, "x", "y")))) {
                    ++load.budget.far_items;
                    continue;
                }
                if (kind == "wire") {
                    Wire w;
                    w.a = pointOf(item, "x1", "y1");
                    w.b = pointOf(item, "x2", "y2");
                    w.width = item.attrNum("width", 0);
                    w.net = netIndex;
                    w.sheet = s;
                    w.bus = bus;
                    sch.nets[netIndex].wires.push_back(static_cast<int>(sch.wires.size()));
                    sch.wires.push_back(w);
                } else if (kind == "junction") {
                    Junction j;
                    j.position = pointOf(item, "x", "y");
                    j.sheet = s;
                    j.net = netIndex;
                    sch.nets[netIndex].junctions.push_back(static_cast<int>(sch.junctions.size()));
                    sch.junctions.push_back(j);
                } else if (kind == "label") {
                    Label l;
                    l.kind = item.attr("xref") == "yes" ? Global : Local;
                    l.text = sch.nets[netIndex].name;
                    l.position = pointOf(item, "x", "y");
                    l.angle = parseEagleRotation(item.attr("rot", "R0")).angle;
                    l.size = item.attrNum("size", kDefaultTextSize);
                    l.sheet = s;
                    l.net = netIndex;
                    sch.nets[netIndex].labels.push_back(static_cast<int>(sch.labels.size()));
                    sch.labels.push_back(std::move(l));
                } else if (kind == "pinref") {
                    auto found = load.instances.find(eagleInstanceKey(item.attr("part"), item.attr("gate")));
                    if (found == load.instances.end()) continue;
                    const int ci = found->second;
                    Component& c = sch.components[ci];
                    const std::string pinName = item.attr("pin");
                    // A pin wired to several pads became several pins of one name; the reference joins them all.
                    auto join = [&](size_t pi) {
                        if (load.budget.exceeded) return;  // the load fails; nothing more is kept
                        Pin& p = c.pins[pi];
                        p.net = netIndex;
                        if (load.netPins.insert({netIndex, ci, static_cast<int>(pi)}).second && load.budget.charge(1))
                            sch.nets[netIndex].pins.push_back({ci, static_cast<int>(pi)});
                        if (p.type == PinType::PowerOut || c.power_symbol) sch.nets[netIndex].power = true;
                    };
                    if (c.pins.size() <= kPinsScanned) {
                        for (size_t pi = 0; pi < c.pins.size(); ++pi)
                            if (c.pins[pi].name == pinName) join(pi);
                    } else {
                        // A part with thousands of pins and a reference to each would make a scan per reference
                        // quadratic.
                        auto [byName, first] = load.pinsByName.try_emplace(ci);
                        if (first)
                            for (size_t pi = 0; pi < c.pins.size(); ++pi)
                                byName->second[c.pins[pi].name].push_back(static_cast<int>(pi));
                        if (auto found = byName->second.find(pinName); found != byName->second.end())
                            for (int pi : found->second) join(static_cast<size_t>(pi));
                    }
                }
            }
        }
        std::vector<int>& sheets = sch.nets[netIndex].sheets;
        if (sheets.empty() || sheets.back() != s) sheets.push_back(s);
    }
}

}  // namespace nl
