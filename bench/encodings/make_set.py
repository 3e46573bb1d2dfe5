#!/usr/bin/env python3
"""Builds the detection benchmark set from the Japanese manual pages (Debian's manpages-ja).

Each page (roff source, UTF-8 in the package) is written in code page 932, EUC-JP, UTF-8 and
UTF-16 (little-endian with a byte order mark): whole, and cut to 4096, 1024, 256, 64 and 24 bytes
on a character boundary. A cut starts at the page's first character beyond ASCII, so that every
file has something to detect. Besides: ASCII program text (C headers of the system) with
one short Japanese comment, in each encoding. Pages that an encoding cannot hold are skipped in
every encoding. Writes OUT/<class>/<n>.txt and OUT/manifest.tsv (path, class, encoding).

    make_set.py OUT [PAGES]     (PAGES: how many pages, chosen with a fixed seed; default 220)
"""
import glob
import gzip
import os
import random
import sys

ENCODINGS = {"cp932": "cp932", "euc-jp": "euc_jp", "utf-8": "utf-8", "utf-16le": "utf-16-le"}
LENGTHS = [None, 4096, 1024, 256, 64, 24]
# The characters that the Japanese encodings map to two code points, as each codec wants them.
CP932_FORMS = {"\u301c": "\uff5e", "\u2016": "\u2225", "\u2212": "\uff0d", "\u00a2": "\uffe0",
               "\u00a3": "\uffe1", "\u00ac": "\uffe2", "\u2014": "\u2015"}
EUC_FORMS = {v: k for k, v in CP932_FORMS.items()}


def encode(text, enc):
    if enc == "cp932":
        text = "".join(CP932_FORMS.get(c, c) for c in text)
    elif enc == "euc-jp":
        text = "".join(EUC_FORMS.get(c, c) for c in text)
    data = text.encode(ENCODINGS[enc])
    return b"\xff\xfe" + data if enc == "utf-16le" else data


def cut(text, enc, length):
    """The longest prefix of text whose encoding fits in length bytes."""
    if length is None:
        return encode(text, enc)
    lo, hi = 0, min(len(text), length)
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if len(encode(text[:mid], enc)) <= length:
            lo = mid
        else:
            hi = mid - 1
    return encode(text[:lo], enc)


def japanese_start(text):
    for i, c in enumerate(text):
        if ord(c) > 0x7F:
            return i
    return None


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 220
    pages = sorted(glob.glob("/usr/share/man/ja/man*/*.gz"))
    rng = random.Random(12)
    rng.shuffle(pages)
    manifest = []
    used = 0
    comments = []
    n = 0
    for path in pages:
        if used >= count:
            break
        try:
            text = gzip.open(path).read().decode("utf-8")
            for enc in ENCODINGS:
                encode(text, enc)
        except (UnicodeError, OSError):
            continue
        start = japanese_start(text)
        if start is None:
            continue
        used += 1
        body = text[start:]
        line = body.splitlines()[0] if body.splitlines() else body
        comments.append("".join(c for c in line if ord(c) > 0x7F)[:12] or "日本語")
        for enc in ENCODINGS:
            for length in LENGTHS:
                cls = f"{enc}-{'whole' if length is None else length}"
                data = cut(text if length is None else body, enc, length)
                os.makedirs(os.path.join(out, cls), exist_ok=True)
                name = os.path.join(cls, f"{n}.txt")
                open(os.path.join(out, name), "wb").write(data)
                manifest.append((name, cls, enc))
        n += 1
    # Program text: a C header of the system with one short Japanese comment.
    headers = sorted(glob.glob("/usr/include/*.h"))
    rng.shuffle(headers)
    k = 0
    for header in headers:
        if k >= 50:
            break
        try:
            code = open(header, encoding="ascii").read()[:3000]
        except (UnicodeError, OSError):
            continue
        lines = code.splitlines(keepends=True)
        at = len(lines) // 2
        comment = "/* " + comments[k % len(comments)] + " */\n"
        source = "".join(lines[:at]) + comment + "".join(lines[at:])
        for enc in ENCODINGS:
            cls = f"prog-{enc}"
            os.makedirs(os.path.join(out, cls), exist_ok=True)
            name = os.path.join(cls, f"{k}.c")
            try:
                open(os.path.join(out, name), "wb").write(encode(source, enc))
            except UnicodeError:
                continue
            manifest.append((name, cls, enc))
        k += 1
    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        for row in manifest:
            f.write("\t".join(row) + "\n")
    print(f"{len(manifest)} files from {used} pages and {k} program texts")


if __name__ == "__main__":
    main()
