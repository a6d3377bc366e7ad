#!/usr/bin/env python3
"""Writes a large, flat KiCad 8 schematic for benchmarks and load tests.

    gen_design.py --symbols 50000 --out /tmp/big.kicad_sch

The design is a grid of identical cells. Each cell holds four placed symbols:
a resistor and a capacitor whose lower pins are joined by a wire with a local
label and a junction on it (net N<k>), a VCC symbol on the resistor's upper
pin and a GND symbol on the capacitor's upper pin. Every eighth cell also puts
a global label on its signal wire, so those cells share the nets BUS0..BUS15.
The file opens without warnings; its nets are VCC, GND, BUS0..BUS15 and one
N<k> per remaining cell.

    gen_design.py --symbols 50000 --revise 100 --out /tmp/big_v2.kicad_sch

writes the same design revised in 100 cells spread over the grid, in turn: a
resistor's value changed, a cell's label renamed, the wire from a resistor to
its signal removed, a capacitor deleted. Cells with a global label are left
alone, so each revision stays within its cell.
"""

import argparse
import sys

COLUMNS = 40
PITCH_X = 20.32
PITCH_Y = 25.4

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

FX = '(effects (font (size 1.27 1.27)))'
FXH = '(effects (font (size 1.27 1.27)) (hide yes))'


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


class Writer:
    def __init__(self, out):
        self.out = out
        self.serial = 0

    def uuid(self):
        self.serial += 1
        return f"{self.serial:08x}-0000-4000-8000-{self.serial * 7919 % (1 << 48):012x}"

    # Sheet items are laid out the way KiCad 8 writes them: one token per line, tab-indented.
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

    def symbol(self, root, lib, ref, value, x, y, pins, footprint="", hidden_ref=False):
        pin_lines = "".join(f'\t\t(pin "{p}"\n\t\t\t(uuid "{self.uuid()}")\n\t\t)\n' for p in pins)

        def prop(name, text, px, py, hidden):
            hide = "\t\t\t\t(hide yes)\n" if hidden else ""
            return (f"\t\t(property \"{name}\" \"{text}\"\n\t\t\t(at {px:.2f} {py:.2f} 0)\n"
                    f"\t\t\t(effects\n\t\t\t\t(font\n\t\t\t\t\t(size 1.27 1.27)\n\t\t\t\t)\n"
                    f"\t\t\t\t(justify left)\n{hide}\t\t\t)\n\t\t)\n")

        self.out.write(
            f"\t(symbol\n\t\t(lib_id \"{lib}\")\n\t\t(at {x:.2f} {y:.2f} 0)\n\t\t(unit 1)\n"
            f"\t\t(exclude_from_sim no)\n\t\t(in_bom yes)\n\t\t(on_board yes)\n\t\t(dnp no)\n"
            f"\t\t(fields_autoplaced yes)\n\t\t(uuid \"{self.uuid()}\")\n"
            + prop("Reference", ref, x + 2.54, y - 1.27, hidden_ref)
            + prop("Value", value, x + 2.54, y + 1.27, False)
            + prop("Footprint", footprint, x, y, True)
            + prop("Datasheet", "~", x, y, True)
            + prop("Description", "", x, y, True)
            + f"{pin_lines}"
            f"\t\t(instances\n\t\t\t(project \"generated\"\n\t\t\t\t(path \"/{root}\"\n"
            f"\t\t\t\t\t(reference \"{ref}\")\n\t\t\t\t\t(unit 1)\n\t\t\t\t)\n\t\t\t)\n\t\t)\n\t)\n")


def revised_cells(cells, count):
    """cell -> which revision (0 to 3) it gets."""
    chosen = {}
    for i in range(min(count, cells - cells // 8)):
        k = i * cells // count
        while k in chosen or k % 8 == 0:
            k = (k + 1) % cells
        chosen[k] = i % 4
    return chosen


def generate(symbols, out, revise=0):
    cells = max(1, symbols // 4)
    revised = revised_cells(cells, revise)
    w = Writer(out)
    root = w.uuid()
    out.write(HEADER.format(root=root, cells=cells))
    out.write(lib_two_pin("Device:C", "C", "C",
                          "(polyline (pts (xy -2.032 -0.762) (xy 2.032 -0.762)) (stroke (width 0.508) (type default)) (fill (type none)))",
                          1.905, 2.54))
    out.write(lib_two_pin("Device:R", "R", "R",
                          "(rectangle (start -1.016 -2.54) (end 1.016 2.54) (stroke (width 0.254) (type default)) (fill (type none)))",
                          1.27, 3.81))
    out.write(lib_power("GND", "GND",
                        "(polyline (pts (xy 0 0) (xy 0 -1.27) (xy 1.27 -1.27) (xy 0 -2.54) (xy -1.27 -1.27) (xy 0 -1.27)) (stroke (width 0) (type default)) (fill (type none)))",
                        270))
    out.write(lib_power("VCC", "VCC",
                        "(polyline (pts (xy -0.762 1.27) (xy 0 2.54) (xy 0.762 1.27)) (stroke (width 0) (type default)) (fill (type none)))",
                        90))
    out.write("\t)\n")
    for k in range(cells):
        x = 25.4 + (k % COLUMNS) * PITCH_X
        y = 25.4 + (k // COLUMNS) * PITCH_Y
        cx = x + 10.16
        change = revised.get(k)
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
        w.symbol(root, "Device:R", f"R{k + 1}", "22k" if change == 0 else "10k", x, y, ["1", "2"],
                 "Resistor_SMD:R_0603_1608Metric")
        if change != 3:
            w.symbol(root, "Device:C", f"C{k + 1}", "100n", cx, y, ["1", "2"], "Capacitor_SMD:C_0603_1608Metric")
        w.symbol(root, "power:VCC", f"#PWR{2 * k + 1}", "VCC", x, y - 6.35, ["1"], hidden_ref=True)
        w.symbol(root, "power:GND", f"#PWR{2 * k + 2}", "GND", cx, y - 6.35, ["1"], hidden_ref=True)
    out.write(f"\t(sheet_instances\n\t\t(path \"/\"\n\t\t\t(page \"1\")\n\t\t)\n\t)\n)\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--symbols", type=int, default=5000, help="placed symbols (four per cell)")
    ap.add_argument("--out", default="-", help="output file, - for standard output")
    ap.add_argument("--revise", type=int, default=0, help="cells to revise (see above)")
    args = ap.parse_args()
    if args.out == "-":
        generate(args.symbols, sys.stdout, args.revise)
    else:
        with open(args.out, "w", encoding="utf-8", newline="\n") as f:
            generate(args.symbols, f, args.revise)


if __name__ == "__main__":
    main()
