#!/usr/bin/env python3
"""Builds a folder of real files from this system under wrong or missing extensions.

    make_tree.py OUT        OUT must not exist yet

Copies programs, libraries, fonts, pictures, sounds, documents, archives and data files found
on the system (up to a few of each kind, no two with the same contents), adds some made here
with the system's own tools (archives, MP3 with and without ID3 tags, FLAC, Ogg, pictures
converted from the PNGs found), and gives every file a name whose extension is wrong or
missing, in OUT/files/. OUT/manifest.tsv lists each name with its kind and the path it came
from.
"""
import hashlib
import os
import random
import re
import shutil
import sqlite3
import subprocess
import sys
import tarfile
import tempfile
import zipfile

# Folders walked once; every file found is matched against the kinds below.
ROOTS = ["/usr/bin", "/usr/lib", "/usr/share", "/var/cache/apt/archives", "/var/lib/dpkg",
         "/var/lib/apt", "/etc/apt", "/lib/terminfo",
         "/root/.pyenv/versions/3.12.1/lib/python3.12/test",
         "/root/.pyenv/versions/3.12.1/lib/python3.12/idlelib",
         "/root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc"]

# (kind, regular expression on the whole path, at most): files found, sorted, evenly sampled.
SOURCES = [
    ("program", r"/usr/bin/[^/]+", 40),
    ("library", r"/usr/lib/x86_64-linux-gnu/lib[^/]*\.so\.[^/]*", 15),
    ("static-lib", r"/usr/lib/x86_64-linux-gnu/[^/]*\.a", 5),
    ("object", r"/usr/lib/.*\.o", 5),
    ("font", r"/usr/share/fonts/.*\.(ttf|otf|ttc)", 30),
    ("web-font", r".*\.woff2?", 6),
    ("png", r"/usr/share/.*\.png", 30),
    ("gif", r".*\.gif", 10),
    ("jpeg", r".*\.(jpg|jpeg)", 10),
    ("svg", r"/usr/share/.*\.svg", 5),
    ("ico", r".*\.ico", 6),
    ("tiff", r".*\.tiff?", 6),
    ("webp", r".*\.webp", 6),
    ("picture-test-data", r".*/test/imghdrdata/[^/]*", 14),
    ("sound-test-data", r".*/test/sndhdrdata/sndhdr\.[^/]*", 8),
    ("oga", r"/usr/share/sounds/.*\.oga", 12),
    ("wav", r".*\.wav", 12),
    ("mp3", r".*\.mp3", 4),
    ("pdf", r".*\.pdf", 6),
    ("postscript", r"/usr/share/.*\.(ps|eps)", 4),
    ("html", r"(/usr/share/doc/|/root/\.rustup/).*\.html?", 30),
    ("xml", r"/usr/share/.*\.xml", 5),
    ("json", r"/usr/share/.*\.json", 4),
    ("text", r"/usr/share/(doc/[^/]*/copyright|common-licenses/[^/]*)", 8),
    ("gzip", r"/usr/share/(man/man1/[^/]*|doc/[^/]*/changelog\.Debian)\.gz", 12),
    ("xz", r".*\.xz", 4),
    ("bzip2", r".*\.bz2", 4),
    ("deb", r"/var/cache/apt/archives/[^/]*\.deb", 8),
    ("jar", r".*\.jar", 8),
    ("zip", r".*\.zip", 6),
    ("gettext", r"/usr/share/locale/ja/LC_MESSAGES/[^/]*\.mo", 8),
    ("terminfo", r"(/usr/share|/lib)/terminfo/x/[^/]*", 4),
    ("python-bytecode", r"/usr/lib/python3/dist-packages/.*/__pycache__/[^/]*\.pyc", 6),
    ("java", r"/usr/lib/jvm/[^/]*/lib/(tzdb\.dat|[^/]*\.jsa)|/usr/lib/jvm/.*\.class", 6),
    ("apt-lists", r"/var/lib/apt/lists/[^/]*_InRelease|/var/cache/apt/[^/]*\.bin", 4),
    ("pgp", r"(/usr/share/keyrings|/etc/apt/trusted\.gpg\.d)/[^/]*\.gpg", 4),
]

# Extensions given to the copies: wrong for almost everything, or none at all.
WRONG = ["txt", "dat", "mp3", "bin", "doc", "jpg", "", "", "old"]

MAX_BYTES = 64 << 20


def sample(paths, n):
    if len(paths) <= n:
        return paths
    step = len(paths) / n
    return [paths[int(i * step)] for i in range(n)]


def all_files():
    paths = []
    for root in ROOTS:
        for folder, _dirs, names in os.walk(root):
            for name in names:
                p = os.path.join(folder, name)
                if os.path.isfile(p) and not os.path.islink(p) and 0 < os.path.getsize(p) <= MAX_BYTES:
                    paths.append(p)
    return sorted(set(paths))


def run(*cmd):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def made_here(work, pngs):
    """Files made with the system's own tools: (label, path)."""
    out = []
    src = "/usr/share/doc"
    tar = os.path.join(work, "docs.tar")
    with tarfile.open(tar, "w", format=tarfile.GNU_FORMAT) as t:
        t.add("/usr/share/doc/file", arcname="file")
    out.append(("tar", tar))
    for tool, ext in (("gzip", "gz"), ("xz", "xz"), ("bzip2", "bz2"), ("zstd", "zst"),
                      ("lzip", "lz"), ("lzma", "lzma")):
        target = tar + "." + ext
        with open(target, "wb") as f:
            if subprocess.run([tool, "-c", tar], stdout=f, stderr=subprocess.DEVNULL).returncode == 0:
                out.append((tool, target))
    z = os.path.join(work, "docs.zip")
    with zipfile.ZipFile(z, "w", zipfile.ZIP_DEFLATED) as f:
        for name in sorted(os.listdir(src))[:20]:
            p = os.path.join(src, name, "copyright")
            if os.path.isfile(p):
                f.write(p, name + "/copyright")
    out.append(("zip", z))
    db = os.path.join(work, "notes.sqlite")
    con = sqlite3.connect(db)
    con.execute("create table notes (id integer primary key, body text)")
    con.executemany("insert into notes (body) values (?)", [("note %d" % i,) for i in range(100)])
    con.commit()
    con.close()
    out.append(("sqlite", db))
    # Sounds: speech, then MP3 at several rates, with and without an ID3 tag, FLAC, Ogg, AIFF.
    speech = os.path.join(work, "speech.wav")
    if run("espeak-ng", "-w", speech, "A short sentence, spoken to make a sound file."):
        out.append(("wav", speech))
        variants = [("mp3", ["-r", "44100"], "plain44.mp3"), ("mp3", ["-r", "22050"], "plain22.mp3"),
                    ("mp3", ["-r", "8000"], "plain8.mp3"), ("mp3", ["-r", "48000"], "plain48.mp3"),
                    ("mp3", ["-r", "32000"], "plain32.mp3"), ("mp3", ["-r", "11025"], "plain11.mp3")]
        for label, opts, name in variants:
            target = os.path.join(work, name)
            if run("sox", speech, *opts, target):
                out.append((label, target))
        for rate in ("44100", "22050", "16000"):
            target = os.path.join(work, "tagged%s.mp3" % rate)
            if run("sox", speech, "--comment", "Title=Speech " + rate, "-r", rate, target):
                out.append(("mp3-id3", target))
        for ext in ("flac", "ogg", "aiff", "au", "voc"):
            target = os.path.join(work, "speech." + ext)
            if run("sox", speech, target):
                out.append((ext, target))
    # Pictures converted from PNGs found on the system.
    convert = "/usr/bin/convert"
    for i, png in enumerate(pngs[:4]):
        for ext in ("jpg", "bmp", "tiff", "webp", "ico", "ppm", "tga", "pcx"):
            target = os.path.join(work, "picture%d.%s" % (i, ext))
            if run(convert, png, target):
                out.append((ext, target))
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "files"))
    rng = random.Random(15)
    seen = set()
    chosen = []
    every = all_files()
    for label, pattern, n in SOURCES:
        unique = []
        matching = re.compile(pattern)
        for p in (p for p in every if matching.fullmatch(p)):
            try:
                with open(p, "rb") as f:
                    digest = hashlib.sha1(f.read()).digest()
            except OSError:  # gone or unreadable since the walk
                continue
            if digest not in seen:
                seen.add(digest)
                unique.append(p)
        chosen += [(label, p) for p in sample(unique, n)]
    work = tempfile.mkdtemp(prefix="popuran-made-")
    try:
        pngs = [p for label, p in chosen if label == "png"]
        for label, p in made_here(work, pngs):
            with open(p, "rb") as f:
                digest = hashlib.sha1(f.read()).digest()
            if digest not in seen:
                seen.add(digest)
                chosen.append((label, p))
        with open(os.path.join(out, "manifest.tsv"), "w") as manifest:
            for i, (label, p) in enumerate(chosen):
                stem = os.path.basename(p).split(".")[0] or "file"
                own = os.path.basename(p).rsplit(".", 1)[-1].lower() if "." in os.path.basename(p) else ""
                ext = rng.choice([e for e in WRONG if e != own])
                name = "%03d-%s%s" % (i, stem[:20], "." + ext if ext else "")
                shutil.copyfile(p, os.path.join(out, "files", name))
                manifest.write("%s\t%s\t%s\n" % (name, label, p.replace(work, "(made here)")))
    finally:
        shutil.rmtree(work)
    print("%d files in %s" % (len(chosen), out))


if __name__ == "__main__":
    main()
