#!/usr/bin/env python3
"""Compares mode 1 with "*" (a dry run's JSON) with file(1) on the same files.

    compare.py TREE OURS.JSON [--markdown OUT.md]

TREE is a folder made by make_tree.py (TREE/files, TREE/manifest.tsv). For every file, file(1)
is asked for its extensions (--extension) and its MIME type with charset (--mime); the file's
new name is the one the dry run reports, or its old name when it reports none. Each file then
falls in one of these classes:

  agrees         renamed to an extension that file lists for it
  agrees (mime)  renamed to an extension file does not list (it lists none: "???"), but the
                 MIME type is the one that extension stands for (txt: any text, html: text/html)
  kept           not renamed, and file lists no extension either
  missed         not renamed, though file lists an extension
  contradicts    renamed to an extension that file's answer contradicts

Prints a table by kind, the files that missed or contradict, and the two numbers that count:
files renamed to a type file contradicts (target 0) and the share of the files with an
extension known to file that end up carrying one of those extensions (target at least 95%).
"""
import argparse
import collections
import json
import os
import subprocess
import sys

# What each extension of the built-in rules stands for, as file's MIME types, where file lists
# no extension of its own.
RULE_MIME = {
    "html": ("text/html",),
    "jpg": ("image/jpeg",),
    "gif": ("image/gif",),
    "bmp": ("image/bmp", "image/x-ms-bmp"),
    "exe": ("application/x-dosexec", "application/vnd.microsoft.portable-executable"),
    "zip": ("application/zip",),
    "lzh": ("application/x-lzh-compressed",),
    "mid": ("audio/midi",),
    "wav": ("audio/x-wav", "audio/wav"),
    "avi": ("video/x-msvideo",),
    "ra": ("audio/x-pn-realaudio",),
    "pdf": ("application/pdf",),
    "cab": ("application/vnd.ms-cab-compressed",),
    "mp3": ("audio/mpeg",),
    "xls": ("application/vnd.ms-excel",),
    "doc": ("application/msword",),
}


def file_answers(folder, names, option):
    """file(1)'s answer for each name, with the given option."""
    out = subprocess.run(["file", "-0", "-N", option, "--"] + names, cwd=folder,
                         capture_output=True, check=True).stdout
    answers = {}
    for line in out.split(b"\n"):
        if b"\0" in line:
            name, answer = line.split(b"\0", 1)
            answers[os.fsdecode(name)] = answer.decode(errors="replace").lstrip(":").strip()
    return answers


def extension_of(name):
    return name.rsplit(".", 1)[1].lower() if "." in name else ""


def classify(new_ext, renamed, old_ext, listed, mime):
    charset = mime.split("charset=")[-1] if "charset=" in mime else ""
    mime_type = mime.split(";")[0].strip()
    if not renamed:
        if not listed:
            return "kept"
        return "agrees" if old_ext in listed else "missed"
    if listed:
        return "agrees" if new_ext in listed else "contradicts"
    if new_ext == "txt":
        return "agrees (mime)" if charset not in ("", "binary") else "contradicts"
    return "agrees (mime)" if mime_type in RULE_MIME.get(new_ext, ()) else "contradicts"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("tree")
    ap.add_argument("ours")
    ap.add_argument("--markdown")
    a = ap.parse_args()
    folder = os.path.join(a.tree, "files")
    kinds = {}
    with open(os.path.join(a.tree, "manifest.tsv")) as f:
        for line in f:
            name, kind, _source = line.rstrip("\n").split("\t")
            kinds[name] = kind
    with open(a.ours) as f:
        ours = json.load(f)
    renamed = {os.path.basename(c["from"]): os.path.basename(c["to"]) for c in ours["changes"]}
    names = sorted(kinds)
    exts = file_answers(folder, names, "--extension")
    mimes = file_answers(folder, names, "--mime")

    rows = []
    for name in names:
        listed = [e for e in exts[name].lower().split("/") if e and e != "???"]
        new_name = renamed.get(name, name)
        new_ext = extension_of(new_name)
        cls = classify(new_ext, name in renamed, extension_of(name), listed, mimes[name])
        rows.append((name, kinds[name], new_name, "/".join(listed) or "???", mimes[name], cls))

    by_kind = collections.OrderedDict()
    for _n, kind, _nn, _l, _m, cls in rows:
        by_kind.setdefault(kind, collections.Counter())[cls] += 1
    classes = ["agrees", "agrees (mime)", "kept", "missed", "contradicts"]
    lines = ["| kind | files | " + " | ".join(classes) + " |",
             "|---|---:|" + "---:|" * len(classes)]
    total = collections.Counter()
    for kind, counts in by_kind.items():
        total.update(counts)
        lines.append("| %s | %d | %s |" % (kind, sum(counts.values()),
                                           " | ".join(str(counts[c] or "") for c in classes)))
    lines.append("| **all** | **%d** | %s |" % (sum(total.values()),
                                                 " | ".join("**%d**" % total[c] for c in classes)))
    known = [r for r in rows if r[3] != "???"]
    carried = [r for r in known if r[5] == "agrees"]
    share = 100.0 * len(carried) / len(known) if known else 100.0
    lines += ["",
              "- files renamed to a type that file contradicts: **%d** (target 0)" % total["contradicts"],
              "- files with an extension known to file: %d, of which named with one of them: %d "
              "(**%.1f%%**, target at least 95%%)" % (len(known), len(carried), share),
              "- files renamed: %d of %d" % (len(renamed), len(rows))]
    odd = [r for r in rows if r[5] in ("missed", "contradicts")]
    if odd:
        lines += ["", "| file | kind | our name | file --extension | file --mime | class |",
                  "|---|---|---|---|---|---|"]
        lines += ["| %s | %s | %s | %s | %s | %s |" % r for r in odd]
    text = "\n".join(lines)
    print(text)
    if a.markdown:
        with open(a.markdown, "w") as f:
            f.write(text + "\n")
    with open(os.path.join(os.path.dirname(a.ours), "files.tsv"), "w") as f:
        f.write("name\tkind\tour name\tfile --extension\tfile --mime\tclass\n")
        for r in rows:
            f.write("\t".join(r) + "\n")
    return 0 if total["contradicts"] == 0 and share >= 95.0 else 1


if __name__ == "__main__":
    sys.exit(main())
