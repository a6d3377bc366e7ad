// A tiny hand-built design for the query tests: components with pins joined
// into named nets, as the net builder would leave them.
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace nltest {

struct PinSpec {
    std::string number;
    std::string name = "~";
    std::string type = "passive";
};

class DesignBuilder {
public:
    nl::Schematic s;

    DesignBuilder() {
        s.format = "kicad";
        s.sheets.push_back({});
        s.sheets.back().name = "Root";
    }

    int part(const std::string& ref, const std::string& value, const std::vector<PinSpec>& pins,
             const std::string& lib_id = "") {
        nl::Component c;
        c.reference = ref;
        c.value = value;
        c.lib_id = lib_id;
        c.position = {10.0 * static_cast<double>(s.components.size()), 5};
        for (const PinSpec& p : pins) {
            nl::Pin pin;
            pin.number = p.number;
            pin.name = p.name;
            pin.type = p.type;
            pin.position = {c.position.x + static_cast<double>(c.pins.size()), c.position.y + 2.54};
            c.pins.push_back(pin);
        }
        s.components.push_back(c);
        return static_cast<int>(s.components.size()) - 1;
    }

    // A two-pin passive part R/C/L... wired between two nets.
    int twoPin(const std::string& ref, const std::string& value, const std::string& a, const std::string& b) {
        int c = part(ref, value, {{"1"}, {"2"}});
        connect(c, 0, a);
        connect(c, 1, b);
        return c;
    }

    int power(const std::string& ref, const std::string& rail) {
        int c = part(ref, rail, {{"1", rail, "power_in"}}, "power:" + rail);
        s.components[c].power_symbol = true;
        powerNet(rail);
        connect(c, 0, rail);
        return c;
    }

    int net(const std::string& name) {
        for (size_t i = 0; i < s.nets.size(); ++i)
            if (s.nets[i].name == name) return static_cast<int>(i);
        nl::Net n;
        n.name = name;
        n.name_source = name.rfind("Net-", 0) == 0 ? "auto" : "label";
        n.sheets = {0};
        s.nets.push_back(n);
        return static_cast<int>(s.nets.size()) - 1;
    }

    int powerNet(const std::string& name) {
        int n = net(name);
        s.nets[n].power = true;
        s.nets[n].name_source = "power";
        return n;
    }

    void connect(int component, int pin, const std::string& netName) {
        int n = net(netName);
        s.components[component].pins[pin].net = n;
        s.nets[n].pins.emplace_back(component, pin);
    }
};

}  // namespace nltest
