// A tiny hand-built design for the query tests: parts whose pins are joined
// into named nets in the order given, as the net builder would leave them.
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
    DesignBuilder() {
        s.format = "kicad";
        s.sheets.resize(1);
        s.sheets[0].name = "Root";
    }
    // `nets[i]` is the net of pin i; "" or a missing entry leaves it unconnected.
    int part(const std::string& ref, const std::string& value, const std::vector<PinSpec>& pins,
             const std::vector<std::string>& nets = {}, const std::string& lib = "") {
        nl::Component& c = s.components.emplace_back();
        const int index = static_cast<int>(s.components.size()) - 1;
        c.reference = ref, c.value = value, c.lib_id = lib, c.position = {10.0 * index, 5};
        for (const PinSpec& p : pins) {
            nl::Pin& pin = c.pins.emplace_back();
            pin.number = p.number, pin.name = p.name, pin.type = p.type;
            pin.position = {c.position.x + static_cast<double>(c.pins.size()), 7.54};
        }
        for (size_t i = 0; i < nets.size(); ++i)
            if (!nets[i].empty()) connect(index, static_cast<int>(i), nets[i]);
        return index;
    }
    int twoPin(const std::string& ref, const std::string& value, const std::string& a, const std::string& b) {
        return part(ref, value, {{"1"}, {"2"}}, {a, b});
    }
    int power(const std::string& ref, const std::string& rail) {
        int c = part(ref, rail, {{"1", rail, "power_in"}}, {rail}, "power:" + rail);
        s.components[c].power_symbol = true;
        s.nets[net(rail)].power = true;
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
    void connect(int component, int pin, const std::string& netName) {
        const int n = net(netName);
        s.components[component].pins[pin].net = n;
        s.nets[n].pins.emplace_back(component, pin);
    }
};

}  // namespace nltest
