// Connectivity of a KiCad design: which pins, wires, labels and junctions form
// one electrical net, what each net is called, and which nets are power rails.
// Buses join the signals their labels name (bus_text.h) across sheets.
#pragma once

#include <string_view>

#include "model/load_budget.h"
#include "model/model.h"

namespace nl {

// Replaces s.nets and writes the net index of every wire, pin, label and
// junction, and the no-connect flag of pins that reach a no-connect marker.
// Every input yields nets. The signals of bus labels are charged to `budget`;
// once it is spent the rest are left out (and the caller, seeing
// budget->exceeded, drops the design).
void buildNets(Schematic& s, LoadBudget* budget = nullptr);

// The rail a pin of component c joins and names by itself, or empty: a power
// symbol's power input (its value, or its pin name in KiCad 6 files) and a
// hidden power input of an ordinary part (its pin name).
std::string_view powerNameOf(const Schematic& s, const Component& c, const Pin& p);

}  // namespace nl
