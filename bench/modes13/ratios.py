#!/usr/bin/env python3
"""Prints the renaming benchmarks of one results folder as ratios to the reference tools.

  ratios.py RESULTS

Reads every hyperfine JSON below RESULTS. For each group of one run (names, names-full, types,
loop) each row shows the median wall time, mean CPU time and the ratio of its median to the
group's reference: mmv of the same kind for the names groups, file --mime-type and cat for types.
"""
import json
import pathlib
import sys

REFERENCE = {  # our command -> the commands it is measured against
    "lower-ours": ["lower-mmv", "lower-rename", "lower-py"],
    "upper-ours": ["upper-mmv", "upper-rename", "upper-py"],
    "ext-ours": ["ext-mmv", "ext-rename", "ext-py"],
    "ours": ["file-mime", "file-mime+rename", "limit-cat-all"],
}


def load(folder):
    rows = {}
    for path in sorted(folder.rglob("*.json")):
        try:
            data = json.loads(path.read_text())
        except (OSError, ValueError):
            continue
        for r in data.get("results", []) if isinstance(data, dict) else []:
            group = path.parent.parent.name if path.parent.name in ("names", "types") else "loop"
            rows[(group, r["command"])] = r
    return rows


def main():
    folder = pathlib.Path(sys.argv[1])
    rows = load(folder)
    print("| group | command | median s | cpu s | ratio to reference |")
    print("|---|---|---|---|---|")
    for (group, name), r in sorted(rows.items()):
        cpu = r.get("user", 0) + r.get("system", 0)
        ratios = []
        for ref in REFERENCE.get(name, []):
            other = rows.get((group, ref))
            if other:
                ratios.append("%.2fx %s" % (r["median"] / other["median"], ref))
        print("| %s | %s | %.3f | %.3f | %s |" % (group, name, r["median"], cpu, ", ".join(ratios)))
    loops = {k: v for k, v in rows.items() if k[0] == "loop"}
    for (group, name), r in sorted(loops.items()):
        if name.startswith("popuran-cli"):
            limit = loops.get((group, name.replace("popuran-cli", "rename_loop")))
            if limit:
                print("\n%s: %.2fx the bare rename loop" % (name, r["median"] / limit["median"]))


if __name__ == "__main__":
    main()
