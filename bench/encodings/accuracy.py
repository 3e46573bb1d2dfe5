#!/usr/bin/env python3
"""The accuracy table: per class, the share of files each detector names right.

    accuracy.py SET/manifest.tsv ours.tsv nkf.tsv uchardet.tsv

Each verdict file holds PATH<TAB>ANSWER lines (PATH as SET/<path in the manifest>). Ours: a
file "uncertain" is not wrong (it is left as it is) but is counted apart; for the others an
answer other than the file's encoding is wrong.
"""
import collections
import os
import sys

NAMES = {"shift_jis": "cp932", "cp932": "cp932", "euc-jp": "euc-jp", "utf-8": "utf-8",
         "utf-16 le (bom)": "utf-16le", "utf-16": "utf-16le", "utf-16le": "utf-16le",
         "utf-8-bom": "utf-8"}


def normal(answer):
    answer = answer.strip().lower()
    if answer.endswith(" (lf)") or answer.endswith(" (crlf)"):
        answer = answer.rsplit(" (", 1)[0]
    return NAMES.get(answer, answer)


def main():
    manifest, *verdicts = sys.argv[1:]
    base = os.path.dirname(manifest)
    truth = {}
    for line in open(manifest):
        path, cls, enc = line.rstrip("\n").split("\t")
        truth[os.path.join(base, path)] = (cls, enc)
    tables = []
    for name in verdicts:
        counts = collections.defaultdict(collections.Counter)
        for line in open(name):
            path, answer = line.rstrip("\n").split("\t", 1)
            cls, enc = truth[path]
            answer = normal(answer)
            kind = ("right" if answer == enc else
                    "uncertain" if answer.startswith("uncertain") else "wrong")
            counts[cls][kind] += 1
        tables.append(counts)
    print("| class | files | " + " | ".join(
        os.path.basename(v).split(".")[0] for v in verdicts) + " | ours: uncertain | ours: wrong |")
    print("|---|---:|" + "---:|" * (len(verdicts) + 2))
    for cls in sorted(tables[0]):
        n = sum(tables[0][cls].values())
        cells = [f"{100 * t[cls]['right'] / n:.1f} %" for t in tables]
        print(f"| {cls} | {n} | " + " | ".join(cells) +
              f" | {tables[0][cls]['uncertain']} | {tables[0][cls]['wrong']} |")


if __name__ == "__main__":
    main()
