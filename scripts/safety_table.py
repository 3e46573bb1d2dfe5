#!/usr/bin/env python3
"""Runs every fault and bad input that the safety tests and this script know, and writes
docs/safety.md: what was tried, what the program did, and how many files were damaged.

The rows of the CI tests come from their GoogleTest JSON output (properties rowN_*); the heavy
cases (2 GiB files, 200,000 files, very deep trees, a FAT file system) run popuran-cli here. Every "damaged" count
is measured by comparing the files before and after, never written by hand.

usage: scripts/safety_table.py [--build DIR] [--scratch DIR] [--out FILE] [--skip-heavy]
"""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The test programs and the suites in them that record rows.
TEST_BINARIES = [("program_tests", "Faults.*:BadInput.*:CrashConsistency.*"),
                 ("syscall_tests", "Eintr.*")]
MATCH = "表示".encode("cp932")
REPLACEMENT = "ひょうじ".encode("cp932")
GIB = 1 << 30


def from_gtest(text):
    """GoogleTest writes each byte of a UTF-8 property as its own \\u00XX escape."""
    try:
        return text.encode("latin-1").decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return text


def run_tests(build, scratch):
    rows, failures = [], []
    for name, suites in TEST_BINARIES:
        binary = os.path.join(build, "tests", name)
        report = os.path.join(scratch, name + ".json")
        started = time.monotonic()
        done = subprocess.run([binary, "--gtest_filter=" + suites,
                               "--gtest_output=json:" + report],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        seconds = time.monotonic() - started
        print(f"{name}: exit {done.returncode} in {seconds:.1f} s", file=sys.stderr)
        if done.returncode != 0:
            failures.append(name)
        with open(report, encoding="utf-8") as f:
            data = json.load(f)
        for suite in data["testsuites"]:
            for test in suite["testsuite"]:
                numbers = sorted({int(k[3:k.index("_")]) for k in test
                                  if k.startswith("row") and k.endswith("_area")})
                passed = not test.get("failures")
                for n in numbers:
                    key = f"row{n}_"
                    rows.append({"area": from_gtest(test[key + "area"]),
                                 "input": from_gtest(test[key + "input"]),
                                 "result": from_gtest(test[key + "result"]) +
                                 ("" if passed else " — TEST FAILED"),
                                 "damaged": int(test[key + "damaged"]),
                                 "source": f"{name}: {suite['name']}.{test['name']}"})
    return rows, failures


def cli(build, args, timeout=3600):
    binary = os.path.join(build, "src", "popuran-cli")
    started = time.monotonic()
    done = subprocess.run([binary] + args + ["--json"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)
    seconds = time.monotonic() - started
    out = json.loads(done.stdout) if done.stdout.strip().startswith(b"{") else {}
    return done.returncode, out, done.stderr.decode("utf-8", "replace"), seconds


def sha_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 22):
            digest.update(chunk)
    return digest.hexdigest()


def identity(path):
    st = os.lstat(path)
    return (st.st_ino, st.st_size, st.st_mtime_ns, st.st_blocks)


def heavy_sparse(build, scratch):
    """A 2 GiB sparse file of zeros in each mode: zeros decode, nothing matches, nothing breaks."""
    rows = []
    for mode, name, args, new_name, what in [
        ("0", "zeros.txt", ["--search", "a", "--replace", "b"], None,
         "read through without a match: not written, no backup, still sparse"),
        ("1", "zeros.dat", ["--search", "*", "--replace", "*"], None,
         "type not recognised (only the head is read: no compound document, no audio, no type known): not renamed"),
        ("2", "ZEROS.TXT", [], "zeros.txt", "renamed; same file (inode, size, blocks)"),
    ]:
        folder = tempfile.mkdtemp(dir=scratch)
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.truncate(2 * GIB)
        before = identity(path)
        status, out, err, seconds = cli(build, ["--mode", mode, "--folder", folder,
                                                "--pattern", "*"] + args)
        target = os.path.join(folder, new_name or name)
        names = sorted(os.listdir(folder))
        damaged = 0 if (status == 0 and names == [new_name or name] and
                        identity(target) == before) else 1
        rows.append({"area": "heavy", "input": f"mode {mode}: 2 GiB sparse file of zeros ({name})",
                     "result": f"{what} ({seconds:.1f} s; exit {status}, "
                               f"changed {out.get('changed')})",
                     "damaged": damaged, "source": "safety_table.py"})
        shutil.rmtree(folder)
    return rows


def heavy_real_2gib(build, scratch):
    """A real 2 GiB text file with a match at each end, if the disk holds it three times."""
    free = shutil.disk_usage(scratch).free
    if free < 8 * GIB:
        return [{"area": "heavy", "input": "mode 0: real 2 GiB file with matches",
                 "result": f"not tried: {free // GIB} GiB free", "damaged": 0,
                 "source": "safety_table.py"}]
    folder = tempfile.mkdtemp(dir=scratch)
    path = os.path.join(folder, "huge.txt")
    block = ("表の示す行 lorem ipsum \x5c 鴛\x5c示\r\n".encode("cp932")) * 4096
    count = (2 * GIB) // len(block) + 1
    old_sha, new_sha = hashlib.sha256(), hashlib.sha256()
    with open(path, "wb") as f:
        for piece, new_piece in [(MATCH, REPLACEMENT)] + [(block, block)] * count + \
                [(MATCH, REPLACEMENT)]:
            f.write(piece)
            old_sha.update(piece)
            new_sha.update(new_piece)
    size = os.path.getsize(path)
    status, out, err, seconds = cli(build, ["--mode", "0", "--folder", folder, "--pattern", "*",
                                            "--search", "表示", "--replace", "ひょうじ"])
    damaged = 0
    if sha_of(path) != new_sha.hexdigest():
        damaged += 1
    backup = path + ".BAK"
    if not os.path.exists(backup) or sha_of(backup) != old_sha.hexdigest():
        damaged += 1
    leftovers = [n for n in os.listdir(folder) if n not in ("huge.txt", "huge.txt.BAK")]
    damaged += len(leftovers)
    rows = [{"area": "heavy",
             "input": f"mode 0: real {size / GIB:.2f} GiB file, one match at each end, "
                      f"traps (鴛\\示) all through",
             "result": f"both matches replaced, every other byte kept, complete .BAK "
                       f"({seconds:.1f} s; exit {status}, replaced {out.get('replaced')})",
             "damaged": damaged, "source": "safety_table.py"}]
    shutil.rmtree(folder)
    return rows


def heavy_many_files(build, scratch, count=200_000):
    folder = tempfile.mkdtemp(dir=scratch)
    for i in range(count):
        with open(os.path.join(folder, f"F{i:06d}.TXT"), "wb") as f:
            f.write(b"%d" % i)
    status, out, err, seconds = cli(build, ["--mode", "2", "--folder", folder, "--pattern", "*"])
    names = os.listdir(folder)
    damaged = count - len(names)
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            if name != f"f{int(f.read()):06d}.txt":
                damaged += 1
    rows = [{"area": "heavy", "input": f"mode 2: one folder of {count:,} files",
             "result": f"every name converted, every file once with its bytes "
                       f"({seconds:.1f} s; exit {status}, searched {out.get('searched')}, "
                       f"changed {out.get('changed')})",
             "damaged": damaged, "source": "safety_table.py"}]
    shutil.rmtree(folder)
    return rows


def make_chain(root, levels, name, files_at):
    """A chain of `levels` folders; memo.txt (with one match) at the given levels. Works below
    the path limit by opening each folder relative to the one above."""
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    fds = [fd]
    for level in range(1, levels + 1):
        os.mkdir(name, dir_fd=fd)
        fd = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        fds.append(fd)
        if level in files_at:
            f = os.open("memo.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
            os.write(f, b"a " + MATCH + b" z")
            os.close(f)
    return fds


def read_at(fd, name):
    try:
        f = os.open(name, os.O_RDONLY, dir_fd=fd)
    except FileNotFoundError:
        return None
    data = b""
    while chunk := os.read(f, 1 << 16):
        data += chunk
    os.close(f)
    return data


def heavy_deep(build, scratch):
    rows = []
    for levels, name, what in [(2000, "d", "2,000 levels deep (paths up to ~4,000 bytes)"),
                               (2200, "dd", "2,200 levels deep, beyond the 4,096-byte path limit")]:
        root = tempfile.mkdtemp(dir=scratch)
        files_at = {1, levels // 2, levels}
        fds = make_chain(root, levels, name, files_at)
        status, out, err, seconds = cli(build, ["--mode", "0", "--folder", root, "--pattern", "*",
                                                "--search", "表示", "--replace", "ひょうじ",
                                                "--subfolders"])
        damaged, replaced, kept = 0, 0, 0
        for level in files_at:
            data, backup = read_at(fds[level], "memo.txt"), read_at(fds[level], "memo.txt.BAK")
            if data == b"a " + REPLACEMENT + b" z" and backup == b"a " + MATCH + b" z":
                replaced += 1
            elif data == b"a " + MATCH + b" z" and backup is None:
                kept += 1
            else:
                damaged += 1
        for fd in fds:
            os.close(fd)
        messages = [line for line in err.splitlines() if line.strip()]
        rows.append({"area": "heavy", "input": f"mode 0 with subfolders: a tree {what}",
                     "result": f"{replaced} of {len(files_at)} files replaced, {kept} out of "
                               f"reach left as they were; {len(messages)} message(s)"
                               + (f" (“…{messages[0][-40:]}”)" if messages else "")
                               + f" ({seconds:.1f} s; exit {status})",
                     "damaged": damaged, "source": "safety_table.py"})
        subprocess.run(["rm", "-rf", root], check=False)  # deeper than rmtree recurses
    return rows


def write_table(rows, out_path, failures, build, heavy):
    total = sum(r["damaged"] for r in rows)
    lines = [
        "# Safety: faults, kills and bad input",
        "",
        "Generated by `scripts/safety_table.py` from the safety tests (`tests/safety/`, `tests/syscalls/`, the bad inputs of `tests/cli/whole_run_test.cpp`) and "
        "the heavy cases that the script runs itself"
        + ("" if heavy else " (skipped in this run)") + ". Each row says what was tried, what "
        "the program did, and how many files were damaged: lost, holding bytes that are "
        "neither their old nor their new ones, a backup that is not the former file, or "
        "anything else that appeared or vanished. The counts are measured by comparing the "
        "files before and after.",
        "",
        f"**Files damaged: {total}** over {len(rows)} faults and inputs."
        + (f" Failing test binaries: {', '.join(failures)}." if failures else ""),
        "",
        "| Area | Fault or input | What the program did | Files damaged |",
        "|---|---|---|---|",
    ]
    def cell(text):
        return str(text).replace("|", "\\|").replace("\n", " ")
    for r in rows:
        lines.append(f"| {cell(r['area'])} | {cell(r['input'])} | {cell(r['result'])} | "
                     f"{r['damaged']} |")
    lines += ["", f"Built from `{os.path.relpath(build, ROOT)}`; test sources: "
              + ", ".join(sorted({r['source'].split(':')[0] for r in rows})) + ".", ""]
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return total


def heavy_fat(build, scratch):
    """Every mode on a FAT file system (an image mounted through FUSE, as a USB stick): no
    permission bits, owners, hard links or RENAME_NOREPLACE, and letter case ignored."""
    root = tempfile.mkdtemp(dir=scratch)
    image, mnt = os.path.join(root, "img"), os.path.join(root, "mnt")
    os.mkdir(mnt)
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    if not (os.access("/dev/fuse", os.R_OK | os.W_OK) and shutil.which("fusefat")
            and subprocess.run(["mkfs.vfat", "-C", image, "8192"], **quiet).returncode == 0
            and subprocess.run(["fusefat", "-o", "rw+", image, mnt], **quiet).returncode == 0):
        return [{"area": "heavy", "input": "every mode on a FAT file system",
                 "result": "not tried: no FUSE, fusefat or mkfs.vfat here", "damaged": 0,
                 "source": "safety_table.py"}]
    t = os.path.join(mnt, "t")
    os.mkdir(t)
    files = {"README.TXT": b"a needle b", "Memo.Txt": b"needle", "page.htm": b"p",
             "other.htm": b"o", "other.html": b"taken"}
    for name, data in files.items():
        with open(os.path.join(t, name), "wb") as f:
            f.write(data)
    steps = [
        ("mode 0: replace in *.txt", ["--mode", "0", "--search", "needle", "--replace", "N",
                                      "--pattern", "*.txt"], 2, 0),
        ("mode 1: htm to html, other.html taken", ["--mode", "1", "--search", "htm",
                                                   "--replace", "html", "--pattern", "*"], 1, 1),
        ("mode 2: lower case, the case-only renames", ["--mode", "2", "--pattern", "*"], 4, 0),
        ("mode 3: upper case of *.TXT", ["--mode", "3", "--pattern", "*.TXT"], 2, 0),
    ]
    rows = []
    for what, args, changed, failed in steps:
        status, out, err, seconds = cli(build, args + ["--folder", t])
        rows.append((what, status, out, err, seconds, changed, failed))
    found = {}
    for dirpath, _, names in os.walk(t):
        for name in names:
            with open(os.path.join(dirpath, name), "rb") as f:
                found[name] = f.read()
    expected = {"README.TXT": b"a N b", "MEMO.TXT": b"N", "readme.txt.bak": b"a needle b",
                "memo.txt.bak": b"needle", "page.html": b"p", "other.htm": b"o",
                "other.html": b"taken"}
    damaged = sum(1 for name, data in expected.items() if found.get(name) != data)
    damaged += sum(1 for name in found if name not in expected)
    subprocess.run(["fusermount", "-u", mnt], check=False)
    shutil.rmtree(root, ignore_errors=True)
    result = []
    for what, status, out, err, seconds, changed, failed in rows:
        ok = status == 0 and out.get("changed") == changed and out.get("failed_count") == failed
        result.append({"area": "heavy", "input": f"FAT file system, {what}",
                       "result": f"{out.get('changed')} changed, {out.get('failed_count')} "
                                 f"could not be changed" + ("" if ok else " — NOT AS EXPECTED")
                                 + f" ({seconds:.1f} s; exit {status})",
                       "damaged": 0 if ok else 1, "source": "safety_table.py"})
    result[-1]["damaged"] += damaged
    result[-1]["result"] += f"; the tree afterwards: {damaged} file(s) not as expected"
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-test"))
    parser.add_argument("--scratch", default=tempfile.gettempdir())
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "safety.md"))
    parser.add_argument("--skip-heavy", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    scratch = tempfile.mkdtemp(prefix="popuran-safety-", dir=args.scratch)
    try:
        rows, failures = run_tests(build, scratch)
        if not args.skip_heavy:
            for case in (heavy_sparse, heavy_real_2gib, heavy_many_files, heavy_deep, heavy_fat):
                started = time.monotonic()
                rows += case(build, scratch)
                print(f"{case.__name__}: {time.monotonic() - started:.1f} s", file=sys.stderr)
        total = write_table(rows, args.out, failures, build, not args.skip_heavy)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{len(rows)} rows, files damaged: {total} -> {args.out}", file=sys.stderr)
    return 1 if total or failures else 0


if __name__ == "__main__":
    sys.exit(main())
