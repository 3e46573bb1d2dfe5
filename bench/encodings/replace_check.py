#!/usr/bin/env python3
"""Runs mode 0 (automatic encodings) over a copy of the detection set, replacing 。 by ．, and
checks every file against its true encoding: a changed file must be exactly the original text
with the replacement, in the original encoding; an unchanged file counts as left alone.

    replace_check.py SET POPURAN_CLI [WORK]      (WORK default /tmp/popuran-enc-check)
"""
import json
import os
import shutil
import subprocess
import sys

CODECS = {"cp932": "cp932", "euc-jp": "euc_jp", "utf-8": "utf-8", "utf-16le": "utf-16-le"}
MARKS = {"utf-16le": b"\xff\xfe"}


def main():
    base, cli = sys.argv[1], sys.argv[2]
    work = sys.argv[3] if len(sys.argv) > 3 else "/tmp/popuran-enc-check"
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(base, work)
    run = subprocess.run([cli, "--mode", "replace", "--search", "。", "--replace", "．",
                          "--pattern", "*", "--subfolders", "--folder", work, "--json",
                          "--verbose"], capture_output=True, check=True)
    result = json.loads(run.stdout)
    named = {c["path"]: c["encoding"] for c in result["changes"]}
    counts = {"changed right": 0, "changed wrong": 0, "left, had no 。": 0, "left, had 。": 0}
    for line in open(os.path.join(base, "manifest.tsv")):
        path, _, enc = line.rstrip("\n").split("\t")
        before = open(os.path.join(base, path), "rb").read()
        after = open(os.path.join(work, path), "rb").read()
        mark = MARKS.get(enc, b"")
        text = before[len(mark):].decode(CODECS[enc])
        if after == before:
            counts["left, had 。" if "。" in text else "left, had no 。"] += 1
            continue
        expected = mark + text.replace("。", "．").encode(CODECS[enc])
        name = named.get(os.path.join(work, path), "")
        right = after == expected and name.replace("-bom", "") == enc
        counts["changed right" if right else "changed wrong"] += 1
        if not right:
            print("wrong:", path, name, file=sys.stderr)
    print(" ".join(f"{k}: {v}," for k, v in counts.items()),
          f"encoding_skipped: {result.get('encoding_skipped', 0)}")


if __name__ == "__main__":
    main()
