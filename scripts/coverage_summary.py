#!/usr/bin/env python3
"""Line and branch coverage per product folder and file, and the functions no test runs, from
gcovr's JSON report: coverage_summary.py coverage.json out-dir (writes summary.txt and
unexecuted.txt)."""
import collections
import json
import sys


def counts(entry):
    lines = [l for l in entry["lines"] if not l["gcovr/noncode"] and not l["gcovr/excluded"]]
    branches = [b for l in lines for b in l["branches"]]
    return (sum(1 for l in lines if l["count"] > 0), len(lines),
            sum(1 for b in branches if b["count"] > 0), len(branches))


def share(done, total):
    return f"{100.0 * done / total:5.1f}% {done:>5}/{total:<5}" if total else "    -              "


def row(name, c):
    return f"{name:<44} {share(c[0], c[1])}  {share(c[2], c[3])}"


def main(report, out):
    files = json.load(open(report))["files"]
    per_folder = collections.OrderedDict()
    per_file = []
    unexecuted = []
    for entry in sorted(files, key=lambda e: e["file"]):
        c = counts(entry)
        per_file.append((entry["file"], c))
        folder = entry["file"].split("/")[0]
        total = per_folder.setdefault(folder, [0, 0, 0, 0])
        for i in range(4):
            total[i] += c[i]
        for f in entry["functions"]:
            if f["execution_count"] == 0:
                unexecuted.append(f"{entry['file']}:{f['lineno']} {f['name']}")
    all_ = [sum(t[i] for t in per_folder.values()) for i in range(4)]
    header = f"{'':<44} {'lines':<19}  {'branches':<19}"
    with open(f"{out}/summary.txt", "w") as s:
        s.write(header + "\n")
        for folder, c in per_folder.items():
            s.write(row(folder + "/", c) + "\n")
        s.write(row("all product code", all_) + "\n\n" + header + "\n")
        for name, c in per_file:
            s.write(row(name, c) + "\n")
    with open(f"{out}/unexecuted.txt", "w") as u:
        u.write("\n".join(unexecuted) + ("\n" if unexecuted else ""))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
