// A hand-built design for the query tests: parts whose pins join named nets
// in the order given, as the net builder would leave them.
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace nltest {

struct PinSpec {
    std::string number, name = "~", type = "passive";
};

struct DesignBuilder {
    nl::Schematic s;
    DesignBuilder() { s.format = "kicad", s.sheets.emplace_back().name = "Root"; }
    // `nets[i]` is the net of pin i; "" or a missing entry leaves it unconnected.
    int part(const std::string& ref, const std::string& value, const std::vector<PinSpec>& pins,
             const std::vector<std::string>& nets = {}, const std::string& lib = "") {
        const int index = static_cast<int>(s.components.size());
        nl::Component& c = s.components.emplace_back();
        c.reference = ref, c.value = value, c.lib_id = lib, c.position = {10.0 * index, 5};
        for (size_t i = 0; i < pins.size(); ++i) {
            c.pins.emplace_back();
            c.pins[i].name = pins[i].name, c.pins[i].number = pins[i].number, c.pins[i].type = pins[i].type;
            c.pins[i].position = {c.position.x + static_cast<double>(i + 1), 7.54};
            if (i >= nets.size() || nets[i].empty()) continue;
            c.pins[i].net = net(nets[i]);
            s.nets[c.pins[i].net].pins.emplace_back(index, static_cast<int>(i));
        }
        return index;
    }
    int twoPin(const std::string& ref, const std::string& value, const std::string& a, const std::string& b) {
        return part(ref, value, {{"1"}, {"2"}}, {a, b});
    }
    int power(const std::string& ref, const std::string& rail) {
        const int c = part(ref, rail, {{"1", rail, "power_in"}}, {rail}, "power:" + rail);
        s.components[c].power_symbol = s.nets[net(rail)].power = true;
        s.nets[net(rail)].name_source = "power";
        return c;
    }
    int net(const std::string& name) {
        for (size_t i = 0; i < s.nets.size(); ++i)
            if (s.nets[i].name == name) return static_cast<int>(i);
        nl::Net& n = s.nets.emplace_back();
        n.name = name, n.name_source = name.rfind("Net-", 0) == 0 ? "auto" : "label", n.sheets = {0};
        return static_cast<int>(s.nets.size()) - 1;
    }
};

}  // namespace nltest
