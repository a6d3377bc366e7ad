// Connectivity of a KiCad design: which pins, wires, labels and junctions form
// one electrical net, what each net is called, and which nets are power rails.
// Buses join the signals their labels name (bus_text.h) across sheets.
#pragma once

#include "model/model.h"

namespace nl {

// Replaces s.nets and writes the net index of every wire, pin, label and
// junction, and the no-connect flag of pins that reach a no-connect marker.
// Cannot fail; every input yields nets.
void buildNets(Schematic& s);

}  // namespace nl
