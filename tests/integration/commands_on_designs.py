#!/usr/bin/env python3
"""Runs the report commands (--erc, --bom, --netlist, --json) on every KiCad
demo and corpus design and checks what must hold on any design:
the JSON dump parses and lists every component and net the other reports
count, the BOM quantities add up, the netlist lists exactly the non-power pins
of the non-bus nets, and the --erc exit status agrees with its count line
(followed by the count of issues the project's settings hid, if any)."""
import csv
import io
import json
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import designs  # noqa: E402


def run(binary, option, path):
    r = designs.run(binary, option, path)
    return r.returncode, r.stdout.decode("utf-8"), r.stderr.decode("utf-8")


def check(binary, path):
    problems = []

    def expect(cond, what):
        if not cond:
            problems.append(what)

    status, out, err = run(binary, "--json", path)
    if status != 0 or err:
        return ["--json failed (%d): %s" % (status, err.strip())]
    dump = json.loads(out)
    expect(out.endswith("}\n"), "--json output does not end with one line end")
    components, nets = dump["components"], dump["nets"]
    refs = {c["ref"] for c in components}
    for n in nets:
        expect(len(n["pins"]) == n["pin_count"], "net %s: pin_count differs from its pins" % n["name"])
        for p in n["pins"]:
            expect(p["ref"] in refs, "net %s lists unknown component %s" % (n["name"], p["ref"]))
    for c in components:
        expect(len(c["pins"]) == c["pin_count"], "component %s: pin_count differs from its pins" % c["ref"])

    status, out, err = run(binary, "--netlist", path)
    expect(status == 0 and not err, "--netlist failed")
    lines = out.split("\n")
    m = re.match(r"# (\d+) nets, (\d+) components$", lines[1])
    expect(m and int(m.group(1)) == len(nets) and int(m.group(2)) == len(components),
           "netlist header disagrees with the dump: %s" % lines[1])
    pin_lines = sum(1 for l in lines if l.startswith("    "))
    expected_pins = sum(1 for n in nets if not n.get("bus") for p in n["pins"] if not p.get("power_symbol"))
    expect(pin_lines == expected_pins, "netlist lists %d pins, the dump %d" % (pin_lines, expected_pins))

    status, out, err = run(binary, "--bom", path)
    expect(status == 0 and not err, "--bom failed")
    rows = list(csv.reader(io.StringIO(out)))
    expect(rows and rows[0] == ["Qty", "References", "Value", "Footprint", "Library", "Description"], "BOM header")
    listed = []
    for row in rows[1:]:
        group = row[1].split(" ")
        expect(int(row[0]) == len(group) == len(set(group)), "BOM line quantity: %s" % row)
        listed += group
    eligible = {c["ref"] for c in components
                if not c.get("power_symbol") and not c.get("dnp") and not c["ref"].startswith("#")}
    expect(set(listed) <= eligible, "BOM lists components that are not BOM components")
    expect(sum(int(r[0]) for r in rows[1:]) == len(listed), "BOM quantities do not add up")

    status, out, err = run(binary, "--erc", path)
    expect(not err, "--erc wrote to standard error")
    issues = [l for l in out.split("\n") if l.startswith("[")]
    m = re.search(r"(?:\A|\n)\n(\d+) error\(s\), (\d+) warning\(s\), (\d+) total\.\n"
                  r"(?:[1-9]\d* issue\(s\) hidden by the project's ERC settings \([^\n]+\.kicad_pro\)\.\n)?$", out)
    expect(m is not None, "--erc count line missing")
    if m:
        errors, warnings, total = map(int, m.groups())
        expect(errors == sum(l.startswith("[error]") for l in issues), "error count")
        expect(warnings == sum(l.startswith("[warning]") for l in issues), "warning count")
        expect(total == len(issues), "total count")
        expect(status == (1 if errors else 0), "--erc exit status %d with %d errors" % (status, errors))
    return problems


def main():
    binary = designs.netloom_binary()
    found = designs.kicad_designs()
    if not found:
        print("no KiCad demos or corpus designs found; skipping")
        return 77
    failed = 0
    for name, path, _ in found:
        problems = check(binary, path)
        print("%-4s %s" % ("ok" if not problems else "FAIL", name))
        for p in problems[:10]:
            print("     " + p)
        failed += bool(problems)
    print("%d of %d designs failed" % (failed, len(found)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
