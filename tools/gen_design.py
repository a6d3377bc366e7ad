#!/usr/bin/env python3
"""Writes large KiCad schematics of several shapes for benchmarks and load tests.

    gen_design.py --symbols 50000 --out /tmp/big.kicad_sch
    gen_design.py --shape v6 --parts 50000 --out /tmp/v6.kicad_sch
    gen_design.py --shape hier --parts 50000 --out /tmp/hier/root.kicad_sch

Every design is a grid of identical cells; a part is a placed symbol that is
not a power symbol (each placed unit of a multi-unit part counts as one).

flat (the default): one KiCad 8 file. Each cell holds four placed symbols: a
resistor and a capacitor whose lower pins are joined by a wire with a local
label and a junction on it (net N<k>), a VCC symbol on the resistor's upper pin
and a GND symbol on the capacitor's upper pin. Every eighth cell also puts a
global label on its signal wire, so those cells share the nets BUS0..BUS15.
Its nets are VCC, GND, BUS0..BUS15 and one N<k> per remaining cell.

v6 and hier use the amplifier cell: the three units of a dual op-amp U<g> (two
amplifiers and the supply unit), two resistors and three power symbols (0.6 a
part). Unit A follows its input (label IN<k>, or BUS<(k // 8) % 16> on every
eighth cell, a global label), unit B follows unit A, and the divider R<2g+1>,
R<2g+2> takes unit B's output to GND through the net N<k>. The supply unit
sits on VCC and GND. Per cell the nets are IN<k> or a share of BUS<j>,
Net-(U<g>-Pad1), Net-(R<2g+1>-Pad1) and N<k>; on each sheet, cell 0 of a
sub-sheet takes its input from the hierarchical label IN instead.

v6: one KiCad 6 file (version 20211123) with the root symbol_instances table
that KiCad 6 writes, in its layout.
hier: KiCad 8 files, a hierarchy of reused sheets: the root uses bank.kicad_sch
twice and each bank uses channel.kicad_sch twice, so every placed symbol of a
channel carries four instance paths. The root, the bank and the channel each
hold a seventh of the cells (the root the remainder too); each sheet symbol's
input pin carries the local label SUB<i> on the sheet that uses it.

    gen_design.py --symbols 50000 --revise 100 --out /tmp/big_v2.kicad_sch

writes the flat design revised in 100 cells spread over the grid, in turn: a
resistor's value changed, a cell's label renamed, the wire from a resistor to
its signal removed, a capacitor deleted. Cells with a global label are left
alone, so each revision stays within its cell.
"""

import argparse
import os
import sys

COLUMNS = 40
PITCH_X = 20.32
PITCH_Y = 25.4
# The amplifier cell is wider and taller; sheet symbols take the first row.
AMP_PITCH_X = 55.88
AMP_PITCH_Y = 40.64
AMP_TOP = 63.5

HEADER = """(kicad_sch
\t(version 20231120)
\t(generator "eeschema")
\t(generator_version "8.0")
\t(uuid "{root}")
\t(paper "A0")
\t(title_block
\t\t(title "Generated grid of {cells} cells")
\t\t(rev "1")
\t)
\t(lib_symbols
"""

HEADER6 = """(kicad_sch (version 20211123) (generator eeschema)

  (uuid {root})

  (paper "A0")

  (title_block
    (title "Generated grid of {cells} cells")
    (rev "1")
  )

  (lib_symbols
"""

FX = '(effects (font (size 1.27 1.27)))'
FXH = '(effects (font (size 1.27 1.27)) (hide yes))'
FX6H = '(effects (font (size 1.27 1.27)) hide)'

RESISTOR_BODY = ("(rectangle (start -1.016 -2.54) (end 1.016 2.54) (stroke (width 0.254) (type default)) "
                 "(fill (type none)))")
CAPACITOR_BODY = ("(polyline (pts (xy -2.032 -0.762) (xy 2.032 -0.762)) (stroke (width 0.508) (type default)) "
                  "(fill (type none)))")
GND_BODY = ("(polyline (pts (xy 0 0) (xy 0 -1.27) (xy 1.27 -1.27) (xy 0 -2.54) (xy -1.27 -1.27) (xy 0 -1.27)) "
            "(stroke (width 0) (type default)) (fill (type none)))")
VCC_BODY = ("(polyline (pts (xy -0.762 1.27) (xy 0 2.54) (xy 0.762 1.27)) (stroke (width 0) (type default)) "
            "(fill (type none)))")
AMP_BODY = ("(polyline (pts (xy -5.08 5.08) (xy 5.08 0) (xy -5.08 -5.08) (xy -5.08 5.08)) "
            "(stroke (width 0.254) (type default)) (fill (type background)))")


def lib_two_pin(name, short, ref, body, length, half):
    return f"""\t\t(symbol "{name}"
\t\t\t(pin_numbers (hide yes))
\t\t\t(pin_names (offset 0))
\t\t\t(exclude_from_sim no)
\t\t\t(in_bom yes)
\t\t\t(on_board yes)
\t\t\t(property "Reference" "{ref}" (at 2.032 0 90) {FX})
\t\t\t(property "Value" "{short}" (at 0 0 90) {FX})
\t\t\t(property "Footprint" "" (at 0 0 0) {FXH})
\t\t\t(property "Datasheet" "~" (at 0 0 0) {FXH})
\t\t\t(symbol "{short}_0_1"
\t\t\t\t{body}
\t\t\t)
\t\t\t(symbol "{short}_1_1"
\t\t\t\t(pin passive line (at 0 {half} 270) (length {length}) (name "~" {FX}) (number "1" {FX}))
\t\t\t\t(pin passive line (at 0 -{half} 90) (length {length}) (name "~" {FX}) (number "2" {FX}))
\t\t\t)
\t\t)
"""


def lib_power(name, short, body, angle):
    return f"""\t\t(symbol "power:{name}"
\t\t\t(power)
\t\t\t(pin_names (offset 0))
\t\t\t(exclude_from_sim no)
\t\t\t(in_bom yes)
\t\t\t(on_board yes)
\t\t\t(property "Reference" "#PWR" (at 0 3.81 0) {FXH})
\t\t\t(property "Value" "{name}" (at 0 3.556 0) {FX})
\t\t\t(symbol "{short}_0_1"
\t\t\t\t{body}
\t\t\t)
\t\t\t(symbol "{short}_1_1"
\t\t\t\t(pin power_in line (at 0 0 {angle}) (length 0) (hide yes) (name "{name}" {FX}) (number "1" {FX}))
\t\t\t)
\t\t)
"""


def lib_opamp(v6):
    """A dual op-amp as KiCad's libraries draw it: amplifiers A and B, and the supply unit."""
    fx_hidden = FX6H if v6 else FXH
    ids = [" (id %d)" % i if v6 else "" for i in range(4)]
    flags = "(in_bom yes) (on_board yes)" if v6 else "(exclude_from_sim no) (in_bom yes) (on_board yes)"

    def pin(kind, x, y, angle, length, name, number):
        return (f"\t\t\t\t(pin {kind} line (at {x} {y} {angle}) (length {length}) "
                f"(name \"{name}\" {FX}) (number \"{number}\" {FX}))\n")

    def amplifier(unit, plus, minus, out):
        return (f"\t\t\t(symbol \"LM358_{unit}_1\"\n\t\t\t\t{AMP_BODY}\n"
                + pin("output", 7.62, 0, 180, 2.54, "~", out)
                + pin("input", -7.62, -2.54, 0, 2.54, "-", minus)
                + pin("input", -7.62, 2.54, 0, 2.54, "+", plus) + "\t\t\t)\n")

    return (f"\t\t(symbol \"Amplifier_Operational:LM358\" (pin_names (offset 0.127)) {flags}\n"
            f"\t\t\t(property \"Reference\" \"U\"{ids[0]} (at 0 5.08 0) {FX})\n"
            f"\t\t\t(property \"Value\" \"LM358\"{ids[1]} (at 0 -5.08 0) {FX})\n"
            f"\t\t\t(property \"Footprint\" \"\"{ids[2]} (at 0 0 0) {fx_hidden})\n"
            f"\t\t\t(property \"Datasheet\" \"http://www.ti.com/lit/ds/symlink/lm2904-n.pdf\"{ids[3]} (at 0 0 0) "
            f"{fx_hidden})\n"
            + amplifier(1, 3, 2, 1) + amplifier(2, 5, 6, 7)
            + "\t\t\t(symbol \"LM358_3_1\"\n"
            + pin("power_in", -2.54, -7.62, 90, 3.81, "V-", 4)
            + pin("power_in", -2.54, 7.62, 270, 3.81, "V+", 8) + "\t\t\t)\n\t\t)\n")


class Writer:
    """Sheet items laid out the way KiCad 8 writes them: one token per line, tab-indented."""

    def __init__(self, out, serial):
        self.out = out
        self.serial = serial  # shared between the files of one design, so uuids stay unique

    def uuid(self):
        self.serial[0] += 1
        n = self.serial[0]
        return f"{n:08x}-0000-4000-8000-{n * 7919 % (1 << 48):012x}"

    def wire(self, x1, y1, x2, y2):
        self.out.write(f"\t(wire\n\t\t(pts\n\t\t\t(xy {x1:.2f} {y1:.2f}) (xy {x2:.2f} {y2:.2f})\n\t\t)\n"
                       f"\t\t(stroke\n\t\t\t(width 0)\n\t\t\t(type default)\n\t\t)\n"
                       f"\t\t(uuid \"{self.uuid()}\")\n\t)\n")

    def junction(self, x, y):
        self.out.write(f"\t(junction\n\t\t(at {x:.2f} {y:.2f})\n\t\t(diameter 0)\n\t\t(color 0 0 0 0)\n"
                       f"\t\t(uuid \"{self.uuid()}\")\n\t)\n")

    def label(self, text, x, y):
        self.out.write(f"\t(label \"{text}\"\n\t\t(at {x:.2f} {y:.2f} 0)\n\t\t(fields_autoplaced yes)\n"
                       f"\t\t(effects\n\t\t\t(font\n\t\t\t\t(size 1.27 1.27)\n\t\t\t)\n"
                       f"\t\t\t(justify left bottom)\n\t\t)\n\t\t(uuid \"{self.uuid()}\")\n\t)\n")

    def global_label(self, text, x, y):
        self.out.write(f"\t(global_label \"{text}\"\n\t\t(shape input)\n\t\t(at {x:.2f} {y:.2f} 0)\n"
                       f"\t\t(fields_autoplaced yes)\n"
                       f"\t\t(effects\n\t\t\t(font\n\t\t\t\t(size 1.27 1.27)\n\t\t\t)\n\t\t\t(justify left)\n\t\t)\n"
                       f"\t\t(uuid \"{self.uuid()}\")\n"
                       f"\t\t(property \"Intersheetrefs\" \"${{INTERSHEET_REFS}}\"\n\t\t\t(at {x:.2f} {y:.2f} 0)\n"
                       f"\t\t\t(effects\n\t\t\t\t(font\n\t\t\t\t\t(size 1.27 1.27)\n\t\t\t\t)\n"
                       f"\t\t\t\t(hide yes)\n\t\t\t)\n\t\t)\n\t)\n")

    def hierarchical_label(self, text, x, y):
        self.out.write(f"\t(hierarchical_label \"{text}\"\n\t\t(shape input)\n\t\t(at {x:.2f} {y:.2f} 180)\n"
                       f"\t\t(effects\n\t\t\t(font\n\t\t\t\t(size 1.27 1.27)\n\t\t\t)\n\t\t\t(justify right)\n\t\t)\n"
                       f"\t\t(uuid \"{self.uuid()}\")\n\t)\n")

    def symbol(self, lib, x, y, pins, instances, value, footprint="", hidden_ref=False, unit=1, uuid=None):
        """instances: (path, reference) per use of the sheet; the first names the Reference property."""
        ref = instances[0][1]
        pin_lines = "".join(f'\t\t(pin "{p}"\n\t\t\t(uuid "{self.uuid()}")\n\t\t)\n' for p in pins)

        def prop(name, text, px, py, hidden):
            hide = "\t\t\t\t(hide yes)\n" if hidden else ""
            return (f"\t\t(property \"{name}\" \"{text}\"\n\t\t\t(at {px:.2f} {py:.2f} 0)\n"
                    f"\t\t\t(effects\n\t\t\t\t(font\n\t\t\t\t\t(size 1.27 1.27)\n\t\t\t\t)\n"
                    f"\t\t\t\t(justify left)\n{hide}\t\t\t)\n\t\t)\n")

        paths = "".join(f"\t\t\t\t(path \"{path}\"\n\t\t\t\t\t(reference \"{r}\")\n\t\t\t\t\t(unit {unit})\n\t\t\t\t)\n"
                        for path, r in instances)
        self.out.write(
            f"\t(symbol\n\t\t(lib_id \"{lib}\")\n\t\t(at {x:.2f} {y:.2f} 0)\n\t\t(unit {unit})\n"
            f"\t\t(exclude_from_sim no)\n\t\t(in_bom yes)\n\t\t(on_board yes)\n\t\t(dnp no)\n"
            f"\t\t(fields_autoplaced yes)\n\t\t(uuid \"{uuid or self.uuid()}\")\n"
            + prop("Reference", ref, x + 2.54, y - 1.27, hidden_ref)
            + prop("Value", value, x + 2.54, y + 1.27, False)
            + prop("Footprint", footprint, x, y, True)
            + prop("Datasheet", "~", x, y, True)
            + prop("Description", "", x, y, True)
            + f"{pin_lines}"
            f"\t\t(instances\n\t\t\t(project \"generated\"\n{paths}\t\t\t)\n\t\t)\n\t)\n")

    def sheet(self, x, y, name, file, pin, instances, uuid):
        """A sheet symbol with one input pin on its left edge; instances: (path, page) per use."""
        paths = "".join(f"\t\t\t\t(path \"{path}\"\n\t\t\t\t\t(page \"{page}\")\n\t\t\t\t)\n" for path, page in instances)
        fx = "\t\t\t(effects\n\t\t\t\t(font\n\t\t\t\t\t(size 1.27 1.27)\n\t\t\t\t)\n\t\t\t\t(justify left {})\n\t\t\t)\n"
        self.out.write(
            f"\t(sheet\n\t\t(at {x:.2f} {y:.2f})\n\t\t(size 40.64 20.32)\n\t\t(exclude_from_sim no)\n"
            f"\t\t(in_bom yes)\n\t\t(on_board yes)\n\t\t(dnp no)\n"
            f"\t\t(stroke\n\t\t\t(width 0)\n\t\t\t(type solid)\n\t\t)\n\t\t(fill\n\t\t\t(color 0 0 0 0.0000)\n\t\t)\n"
            f"\t\t(uuid \"{uuid}\")\n"
            f"\t\t(property \"Sheetname\" \"{name}\"\n\t\t\t(at {x:.2f} {y - 0.76:.2f} 0)\n{fx.format('bottom')}\t\t)\n"
            f"\t\t(property \"Sheetfile\" \"{file}\"\n\t\t\t(at {x:.2f} {y + 20.9:.2f} 0)\n{fx.format('top')}\t\t)\n"
            f"\t\t(pin \"{pin}\" input\n\t\t\t(at {x:.2f} {y + 5.08:.2f} 180)\n\t\t\t(uuid \"{self.uuid()}\")\n"
            f"\t\t\t(effects\n\t\t\t\t(font\n\t\t\t\t\t(size 1.27 1.27)\n\t\t\t\t)\n\t\t\t\t(justify left)\n\t\t\t)\n\t\t)\n"
            f"\t\t(instances\n\t\t\t(project \"generated\"\n{paths}\t\t\t)\n\t\t)\n\t)\n")


class Writer6(Writer):
    """The same items in KiCad 6's layout: several tokens a line, two-space indents. Placed
    symbols carry no instances; their references go to the root's symbol_instances table."""

    def __init__(self, out, serial):
        super().__init__(out, serial)
        self.table = []  # (path, reference, unit, value, footprint)

    def wire(self, x1, y1, x2, y2):
        self.out.write(f"  (wire (pts (xy {x1:.2f} {y1:.2f}) (xy {x2:.2f} {y2:.2f}))\n"
                       f"    (stroke (width 0) (type default) (color 0 0 0 0))\n    (uuid {self.uuid()})\n  )\n")

    def junction(self, x, y):
        self.out.write(f"  (junction (at {x:.2f} {y:.2f}) (diameter 0) (color 0 0 0 0)\n"
                       f"    (uuid {self.uuid()})\n  )\n")

    def label(self, text, x, y):
        self.out.write(f"  (label \"{text}\" (at {x:.2f} {y:.2f} 0)\n"
                       f"    (effects (font (size 1.27 1.27)) (justify left bottom))\n    (uuid {self.uuid()})\n  )\n")

    def global_label(self, text, x, y):
        self.out.write(f"  (global_label \"{text}\" (shape input) (at {x:.2f} {y:.2f} 0) (fields_autoplaced)\n"
                       f"    (effects (font (size 1.27 1.27)) (justify left))\n    (uuid {self.uuid()})\n"
                       f"    (property \"Intersheet References\" \"${{INTERSHEET_REFS}}\" (id 0) "
                       f"(at {x + 8.64:.2f} {y:.2f} 0)\n"
                       f"      (effects (font (size 1.27 1.27)) (justify left) hide)\n    )\n  )\n")

    def symbol(self, lib, x, y, pins, instances, value, footprint="", hidden_ref=False, unit=1, uuid=None):
        ref = instances[0][1]
        uuid = uuid or self.uuid()

        def prop(name, n, text, px, py, hidden):
            return (f"    (property \"{name}\" \"{text}\" (id {n}) (at {px:.2f} {py:.2f} 0)\n"
                    f"      (effects (font (size 1.27 1.27)) (justify left){' hide' if hidden else ''})\n    )\n")

        self.out.write(
            f"  (symbol (lib_id \"{lib}\") (at {x:.2f} {y:.2f} 0) (unit {unit})\n"
            f"    (in_bom yes) (on_board yes) (fields_autoplaced)\n    (uuid {uuid})\n"
            + prop("Reference", 0, ref, x + 2.54, y - 1.27, hidden_ref)
            + prop("Value", 1, value, x + 2.54, y + 1.27, False)
            + prop("Footprint", 2, footprint, x, y, True)
            + prop("Datasheet", 3, "~", x, y, True)
            + "".join(f"    (pin \"{p}\" (uuid {self.uuid()}))\n" for p in pins) + "  )\n")
        for path, r in instances:
            self.table.append((path + "/" + uuid if path != "/" else "/" + uuid, r, unit, value, footprint))

    def symbol_instances(self):
        def order(row):
            ref = row[1]
            digits = len(ref) - len(ref.rstrip("0123456789"))
            return (ref[:len(ref) - digits], int(ref[len(ref) - digits:] or 0), row[2])

        self.out.write("  (symbol_instances\n")
        for path, ref, unit, value, footprint in sorted(self.table, key=order):
            self.out.write(f"    (path \"{path}\"\n      (reference \"{ref}\") (unit {unit}) (value \"{value}\") "
                           f"(footprint \"{footprint}\")\n    )\n")
        self.out.write("  )\n")


def revised_cells(cells, count):
    """cell -> which revision (0 to 3) it gets."""
    chosen = {}
    for i in range(min(count, cells - cells // 8)):
        k = i * cells // count
        while k in chosen or k % 8 == 0:
            k = (k + 1) % cells
        chosen[k] = i % 4
    return chosen


def rc_cell(w, root, k, change=None):
    """One cell of the flat shape; change: the revision it gets (see revised_cells), if any."""
    x = 25.4 + (k % COLUMNS) * PITCH_X
    y = 25.4 + (k // COLUMNS) * PITCH_Y
    cx = x + 10.16

    def at(ref):
        return [("/" + root, ref)]
    # Signal wire under both parts, with a label and a junction on its middle.
    if change != 2:
        w.wire(x, y + 3.81, x, y + 7.62)
    w.wire(x, y + 7.62, cx, y + 7.62)
    w.wire(cx, y + 7.62, cx, y + 2.54)
    mid = x + 5.08
    w.junction(mid, y + 7.62)
    w.label(f"M{k}" if change == 1 else f"N{k}", mid, y + 7.62)
    if k % 8 == 0:
        w.global_label(f"BUS{(k // 8) % 16}", cx, y + 5.08)
    # Supply stubs: VCC above the resistor, GND above the capacitor.
    w.wire(x, y - 3.81, x, y - 6.35)
    w.wire(cx, y - 2.54, cx, y - 6.35)
    w.symbol("Device:R", x, y, ["1", "2"], at(f"R{k + 1}"), "22k" if change == 0 else "10k",
             "Resistor_SMD:R_0603_1608Metric")
    if change != 3:
        w.symbol("Device:C", cx, y, ["1", "2"], at(f"C{k + 1}"), "100n", "Capacitor_SMD:C_0603_1608Metric")
    w.symbol("power:VCC", x, y - 6.35, ["1"], at(f"#PWR{2 * k + 1}"), "VCC", hidden_ref=True)
    w.symbol("power:GND", cx, y - 6.35, ["1"], at(f"#PWR{2 * k + 2}"), "GND", hidden_ref=True)


def amp_cell(w, k, uses, hier_input):
    """One amplifier cell, cell k of its sheet; uses: (instance path, global cell number) per
    use of the sheet. hier_input: the input is the sheet's hierarchical label IN."""
    x = 25.4 + (k % COLUMNS) * AMP_PITCH_X
    y = AMP_TOP + (k // COLUMNS) * AMP_PITCH_Y

    def refs(fmt):
        return [(path, fmt(g)) for path, g in uses]
    # Unit A: the input on +, - fed back from its output, the output on to unit B's +.
    # Wires end at junctions, as KiCad saves them.
    w.wire(x + 7.62, y, x + 10.16, y)
    w.wire(x + 10.16, y, x + 12.7, y)
    w.wire(x + 12.7, y, x + 12.7, y - 2.54)
    w.wire(x + 12.7, y - 2.54, x + 17.78, y - 2.54)
    w.wire(x - 7.62, y + 2.54, x - 7.62, y + 5.08)
    w.wire(x - 7.62, y + 5.08, x + 10.16, y + 5.08)
    w.wire(x + 10.16, y + 5.08, x + 10.16, y)
    w.junction(x + 10.16, y)
    # Unit B: - fed back from its output, the output on to the divider.
    w.wire(x + 17.78, y + 2.54, x + 17.78, y + 5.08)
    w.wire(x + 17.78, y + 5.08, x + 35.56, y + 5.08)
    w.wire(x + 35.56, y + 5.08, x + 35.56, y)
    w.wire(x + 33.02, y, x + 35.56, y)
    w.wire(x + 35.56, y, x + 38.1, y)
    w.junction(x + 35.56, y)
    if hier_input:
        w.hierarchical_label("IN", x - 7.62, y - 2.54)
    elif k % 8 == 0:
        w.global_label(f"BUS{(k // 8) % 16}", x - 7.62, y - 2.54)
    else:
        w.label(f"IN{k}", x - 7.62, y - 2.54)
    w.label(f"N{k}", x + 38.1, y + 7.62)
    amp = "Amplifier_Operational:LM358"
    w.symbol(amp, x, y, ["1", "2", "3"], refs(lambda g: f"U{g + 1}"), "LM358", unit=1)
    w.symbol(amp, x + 25.4, y, ["5", "6", "7"], refs(lambda g: f"U{g + 1}"), "LM358", unit=2)
    w.symbol(amp, x + 12.7, y + 17.78, ["4", "8"], refs(lambda g: f"U{g + 1}"), "LM358", unit=3)
    w.symbol("power:VCC", x + 10.16, y + 10.16, ["1"], refs(lambda g: f"#PWR{3 * g + 1}"), "VCC", hidden_ref=True)
    w.symbol("power:GND", x + 10.16, y + 25.4, ["1"], refs(lambda g: f"#PWR{3 * g + 2}"), "GND", hidden_ref=True)
    w.symbol("Device:R", x + 38.1, y + 3.81, ["1", "2"], refs(lambda g: f"R{2 * g + 1}"), "10k",
             "Resistor_SMD:R_0603_1608Metric")
    w.symbol("Device:R", x + 38.1, y + 11.43, ["1", "2"], refs(lambda g: f"R{2 * g + 2}"), "4k7",
             "Resistor_SMD:R_0603_1608Metric")
    w.symbol("power:GND", x + 38.1, y + 15.24, ["1"], refs(lambda g: f"#PWR{3 * g + 3}"), "GND", hidden_ref=True)


def amp_libs(v6):
    resistor = lib_two_pin("Device:R", "R", "R", RESISTOR_BODY, 1.27, 3.81)
    libs = lib_opamp(v6) + resistor + lib_power("GND", "GND", GND_BODY, 270) + lib_power("VCC", "VCC", VCC_BODY, 90)
    if v6:
        libs = libs.replace(" (hide yes)", " hide")
        libs = libs.replace("\t\t\t(exclude_from_sim no)\n", "")
    return libs


def generate_flat(symbols, out, revise=0):
    cells = max(1, symbols // 4)
    revised = revised_cells(cells, revise)
    w = Writer(out, [0])
    root = w.uuid()
    out.write(HEADER.format(root=root, cells=cells))
    out.write(lib_two_pin("Device:C", "C", "C", CAPACITOR_BODY, 1.905, 2.54))
    out.write(lib_two_pin("Device:R", "R", "R", RESISTOR_BODY, 1.27, 3.81))
    out.write(lib_power("GND", "GND", GND_BODY, 270))
    out.write(lib_power("VCC", "VCC", VCC_BODY, 90))
    out.write("\t)\n")
    for k in range(cells):
        rc_cell(w, root, k, revised.get(k))
    out.write("\t(sheet_instances\n\t\t(path \"/\"\n\t\t\t(page \"1\")\n\t\t)\n\t)\n)\n")


def generate_v6(parts, out):
    cells = max(1, parts // 5)
    w = Writer6(out, [0])
    root = w.uuid()
    out.write(HEADER6.format(root=root, cells=cells))
    out.write(amp_libs(True))
    out.write("  )\n\n")
    for k in range(cells):
        amp_cell(w, k, [("/", k)], False)
    out.write("\n  (sheet_instances\n    (path \"/\" (page \"1\"))\n  )\n\n")
    w.symbol_instances()
    out.write(")\n")


def generate_hier(parts, root_path):
    """root -> bank.kicad_sch twice -> channel.kicad_sch twice each."""
    cells = max(7, parts // 5)
    per_file = cells // 7
    own = {"root": cells - 6 * per_file, "bank": per_file, "channel": per_file}
    serial = [0]
    folder = os.path.dirname(os.path.abspath(root_path))
    probe = Writer(None, serial)
    root = probe.uuid()
    file_uuid = {"bank": probe.uuid(), "channel": probe.uuid()}
    bank_uses = [probe.uuid(), probe.uuid()]     # sheet symbols in the root
    channel_uses = [probe.uuid(), probe.uuid()]  # sheet symbols in the bank
    instances = {
        "root": ["/" + root],
        "bank": ["/" + root + "/" + b for b in bank_uses],
        "channel": ["/" + root + "/" + b + "/" + c for b in bank_uses for c in channel_uses],
    }
    # Cells are numbered through the hierarchy in depth-first order of the instances.
    first_cell = {}
    next_cell = 0
    for path in ["/" + root] + [p for b in instances["bank"] for p in [b] + [b + "/" + c for c in channel_uses]]:
        kind = {1: "root", 2: "bank", 3: "channel"}[path.count("/")]
        first_cell[path] = next_cell
        next_cell += own[kind]
    children = {"root": ("bank", bank_uses), "bank": ("channel", channel_uses), "channel": None}
    for kind in ("root", "bank", "channel"):
        name = root_path if kind == "root" else os.path.join(folder, kind + ".kicad_sch")
        with open(name, "w", encoding="utf-8", newline="\n") as out:
            w = Writer(out, serial)
            header = HEADER.format(root=root if kind == "root" else file_uuid[kind], cells=cells)
            if kind != "root":
                header = header.replace(f"\t(title_block\n\t\t(title \"Generated grid of {cells} cells\")\n"
                                        "\t\t(rev \"1\")\n\t)\n", "")
            out.write(header)
            out.write(amp_libs(False))
            out.write("\t)\n")
            if children[kind]:
                child, uses = children[kind]
                for i, sheet_uuid in enumerate(uses):
                    x = 25.4 + i * 60.96
                    pages = [(p, str(2 + i + 2 * j)) for j, p in enumerate(instances[kind])]
                    w.sheet(x, 12.7, f"{child}{i}", child + ".kicad_sch", "IN", pages, sheet_uuid)
                    w.label(f"SUB{i}", x, 12.7 + 5.08)
            for k in range(own[kind]):
                uses = [(p, first_cell[p] + k) for p in instances[kind]]
                amp_cell(w, k, uses, kind != "root" and k == 0)
            if kind == "root":
                out.write("\t(sheet_instances\n\t\t(path \"/\"\n\t\t\t(page \"1\")\n\t\t)\n\t)\n")
            out.write(")\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--shape", choices=("flat", "v6", "hier"), default="flat")
    ap.add_argument("--symbols", type=int, help="flat only: placed symbols (four per cell); default 5000")
    ap.add_argument("--parts", type=int, help="parts, power symbols not counted (flat: two per cell)")
    ap.add_argument("--out", default="-", help="output file, - for standard output (hier: the root file)")
    ap.add_argument("--revise", type=int, default=0, help="flat only: cells to revise (see above)")
    args = ap.parse_args()
    if args.shape == "flat":
        symbols = args.symbols if args.symbols is not None else 2 * args.parts if args.parts is not None else 5000
    elif args.symbols is not None:
        ap.error("--symbols is for the flat shape; give --parts")
    parts = args.parts if args.parts is not None else 5000
    if args.shape == "hier":
        if args.out == "-":
            ap.error("the hier shape writes several files: give --out")
        generate_hier(parts, args.out)
        return
    if args.revise and args.shape != "flat":
        ap.error("--revise is for the flat shape")
    generate = (lambda out: generate_flat(symbols, out, args.revise)) if args.shape == "flat" else (lambda out: generate_v6(parts, out))
    if args.out == "-":
        generate(sys.stdout)
    else:
        with open(args.out, "w", encoding="utf-8", newline="\n") as f:
            generate(f)


if __name__ == "__main__":
    main()
