#!/usr/bin/env python3
"""A tree of N small files for the scale benchmark: 100 files a folder, folders two levels deep
(NN/NNNNN), names of mixed-case letters with a few extensions, each file 40 to 200 bytes of
ASCII text; about 1 % of the files hold the word "needle". Seeded: same N, same tree.

  bench/scale/make_tree.py DIR N
"""
import os
import random
import sys

LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
EXTS = [".txt", ".TXT", ".htm", ".Html", ".dat"]
FILLER = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    root, n = sys.argv[1], int(sys.argv[2])
    rng = random.Random(n)
    per_folder = 100
    folders = (n + per_folder - 1) // per_folder
    made = 0
    for f in range(folders):
        folder = os.path.join(root, "%02d" % (f % 100), "%05d" % f)
        os.makedirs(folder)
        seen = set()
        for _ in range(min(per_folder, n - made)):
            while True:
                name = "".join(rng.choice(LETTERS) for _ in range(rng.randint(6, 12)))
                name += rng.choice(EXTS)
                if name.lower() not in seen:
                    seen.add(name.lower())
                    break
            start = rng.randrange(len(FILLER))
            text = (FILLER * 3)[start:start + rng.randint(40, 200)]
            if rng.random() < 0.01:
                cut = rng.randrange(len(text))
                text = text[:cut] + " needle " + text[cut:]
            fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
            os.write(fd, text.encode())
            os.close(fd)
            made += 1


if __name__ == "__main__":
    main()
