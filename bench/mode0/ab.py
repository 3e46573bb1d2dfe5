#!/usr/bin/env python3
"""Mode 0 timed against other commands in alternation: every round restores a fresh copy of the
corpus before each command and runs them one after the other, so that a change of machine load
falls on all of them alike. Prints medians of wall time and of cpu time (user + system).

  bench/mode0/ab.py sparse 9 "ours=build-rel/src/popuran-cli --mode replace --subfolders \\
      --pattern '*.txt' --search needle --replace haystack --folder {dir}" \\
      "rg-sed=rg -uu -l0 -F -g '*.txt' -- needle {dir} | xargs -0r sed -i.BAK s/needle/haystack/g"

Environment: CORPUS (/tmp/bench-corpus-mode0), WORK (/tmp/bench-ab-mode0, removed afterwards;
under /tmp or /dev/shm).
Results are not verified here; run.sh does that.
"""
import os
import resource
import statistics
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    workload, rounds = sys.argv[1], int(sys.argv[2])
    commands = [arg.split("=", 1) for arg in sys.argv[3:]]
    corpus = os.path.join(os.environ.get("CORPUS", "/tmp/bench-corpus-mode0"), workload)
    work = os.environ.get("WORK", "/tmp/bench-ab-mode0")
    if not work.startswith(("/tmp/", "/dev/shm/")) or not os.path.isdir(corpus):
        sys.exit("WORK must be under /tmp or /dev/shm and the corpus must exist (run.sh makes it)")
    tree = os.path.join(work, workload)
    wall = {name: [] for name, _ in commands}
    cpu = {name: [] for name, _ in commands}
    for _ in range(rounds):
        for name, command in commands:
            subprocess.run(["rm", "-rf", work], check=True)
            os.makedirs(work)
            subprocess.run(["cp", "-a", corpus, tree], check=True)
            subprocess.run(["sync"], check=True)
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run(command.replace("{dir}", tree), shell=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wall[name].append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu[name].append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    subprocess.run(["rm", "-rf", work], check=True)
    load = os.getloadavg()[0]
    print(f"| workload | command | median s | min s | cpu s | ({rounds} rounds, load {load:.2f}) |")
    print("|---|---|---:|---:|---:|---|")
    for name, _ in commands:
        print(f"| {workload} | {name} | {statistics.median(wall[name]):.3f} "
              f"| {min(wall[name]):.3f} | {statistics.median(cpu[name]):.3f} | |")


if __name__ == "__main__":
    main()
