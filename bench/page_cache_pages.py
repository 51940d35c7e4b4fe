#!/usr/bin/env python3
"""How the page cache holds each file given: how many of its pages sit in large folios and how many alone.
Reads and maps each file, then looks its pages up in /proc/self/pagemap and /proc/kpageflags (root only).
Run against a file on the volume and the same file in the mirror folder to see why warm reads differ."""
import mmap
import os
import struct
import sys

COMPOUND_HEAD, COMPOUND_TAIL, PAGE = 15, 16, 4096


def shape(path):
    size = os.path.getsize(path) // PAGE * PAGE
    with open(path, "rb") as f, open("/proc/self/pagemap", "rb") as pagemap, open("/proc/kpageflags", "rb") as flags:
        f.read()
        mapped = mmap.mmap(f.fileno(), size, prot=mmap.PROT_READ)
        start = next(int(line.split("-")[0], 16) for line in open("/proc/self/maps") if line.rstrip().endswith(path))
        large = alone = 0
        for page in range(size // PAGE):
            mapped[page * PAGE]  # maps the page
        for page in range(size // PAGE):
            pagemap.seek((start // PAGE + page) * 8)
            entry = struct.unpack("Q", pagemap.read(8))[0]
            if entry >> 63:
                flags.seek((entry & ((1 << 55) - 1)) * 8)
                bits = struct.unpack("Q", flags.read(8))[0]
                large += bool(bits >> COMPOUND_HEAD & 1 or bits >> COMPOUND_TAIL & 1)
                alone += not (bits >> COMPOUND_HEAD & 1 or bits >> COMPOUND_TAIL & 1)
        mapped.close()
    print("%s: %d pages in large folios, %d alone" % (path, large, alone))


for argument in sys.argv[1:]:
    shape(argument)
