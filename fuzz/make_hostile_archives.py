#!/usr/bin/env python3
"""Writes the hostile-archive seeds (fuzz/seeds/hostile_archives):
    make_hostile_archives.py VIRIZ_PACK OUTDIR
Archives made by viriz-pack, then damaged as a careless or hostile hand
would: names with control bytes, truncations at every kind of boundary,
damaged header CRCs, huge declared sizes, and headers that do not hold what
they must. The same tool and arguments give the same bytes."""
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

MARKER = b"Rar!\x1a\x07\x00"
FIRST_ENTRY = 7 + 13
FILE_HEADER = 32


def seal(header):
    """The header with its CRC field set: the low 16 bits of the CRC-32 after it."""
    return struct.pack("<H", zlib.crc32(header[2:]) & 0xFFFF) + header[2:]


def file_block(name, packed, unpacked, crc, method=0x35, version=20, flags=0x8000 | 0x80):
    fields = struct.pack("<HBHHIIBIIBBHI", 0, 0x74, flags, FILE_HEADER + len(name), len(packed),
                         unpacked, 2, crc, 0x28210000, version, method, len(name), 0x20)
    return seal(fields + name) + packed


def archive(blocks, solid=False):
    main = seal(struct.pack("<HBHHHI", 0, 0x73, 0x0008 if solid else 0, 13, 0, 0))
    end = seal(struct.pack("<HBHH", 0, 0x7B, 0x4000, 7))
    return MARKER + main + b"".join(blocks) + end


def packed_by_tool(tool, work, files, *options):
    """An archive of `files` (name: bytes) written by viriz-pack."""
    paths = []
    for name, data in files.items():
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        paths.append(name)
    out = os.path.join(work, "out.rar")
    subprocess.run([tool, "create", out, *options, *paths], cwd=work, check=True)
    with open(out, "rb") as f:
        return f.read()


def with_header(data, at, **fields):
    """The archive with fields of the file header at `at` changed, its CRC sealed
    again over the bytes it held before."""
    names = ["crc", "type", "flags", "size", "packed", "unpacked", "host", "file_crc", "time",
             "version", "method", "name_size", "attributes"]
    values = dict(zip(names, struct.unpack_from("<HBHHIIBIIBBHI", data, at)))
    end = at + values["size"]
    values.update(fields)
    header = bytearray(data[at:end])
    struct.pack_into("<HBHHIIBIIBBHI", header, 0, *(values[n] for n in names))
    return data[:at] + seal(bytes(header)) + data[end:]


def main():
    tool, outdir = sys.argv[1], sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(30)
    text = b"".join(b"line %d of the text, with words repeated\n" % i for i in range(400))
    noise = bytes(rng.getrandbits(8) for _ in range(4096))
    seeds = {}

    with tempfile.TemporaryDirectory() as work:
        plain = packed_by_tool(tool, work, {"a.txt": text, "b.bin": noise})
        solid = packed_by_tool(tool, work, {"a.txt": text, "b.bin": noise}, "--solid", "-p",
                               "password")

    # Names a terminal would act on, or that hide what follows them.
    names = [b"clear\x1b[2J\x1b]0;title\x07", b"line\rfake entry", b"a\x00../../hidden",
             b"del\x7f\x9bcsi", b"bad utf-8 \xc3\x28 \xed\xa0\x80", "rtl\u202etxt.exe".encode(),
             b"x" * 300]
    seeds["names-control.rar"] = archive(
        [file_block(n, b"hi", 2, zlib.crc32(b"hi"), method=0x30) for n in names])

    # Cut inside the marker, the archive header, a block header, a name, the
    # data, and the end block.
    second = FIRST_ENTRY + FILE_HEADER + 5 + struct.unpack_from("<I", plain, FIRST_ENTRY + 7)[0]
    for label, cut in [("marker", 5), ("archive-header", 12), ("block-header", FIRST_ENTRY + 9),
                       ("name", FIRST_ENTRY + FILE_HEADER + 2), ("data", FIRST_ENTRY + 200),
                       ("second-entry", second + 40), ("end-block", len(plain) - 3)]:
        seeds["truncated-" + label + ".rar"] = plain[:cut]
    seeds["truncated-solid.rar"] = solid[:len(solid) // 2]

    # Header CRCs damaged: the archive header, an entry, the end block.
    for label, at in [("archive", 7), ("entry", FIRST_ENTRY), ("end", len(plain) - 7)]:
        damaged = bytearray(plain)
        damaged[at] ^= 0x5A
        seeds["header-crc-" + label + ".rar"] = bytes(damaged)

    # Declared sizes far beyond what the packed bytes hold or can produce.
    seeds["huge-stored.rar"] = archive([file_block(b"s", b"tiny", 0xFFFFFFFF, 0, method=0x30)])
    seeds["huge-compressed.rar"] = archive([file_block(b"c", noise, 0x7FFFFFFF, 0)])
    seeds["large-compressed.rar"] = archive([file_block(b"c", noise, 8 << 20, 0)])
    seeds["huge-solid-first.rar"] = with_header(solid, FIRST_ENTRY, unpacked=0x7FFFFFFF)
    seeds["huge-additional-size.rar"] = with_header(plain, FIRST_ENTRY, packed=0xFFFFFFF0)

    # Headers that do not hold what they must, and what the reader refuses.
    seeds["header-size-small.rar"] = with_header(plain, FIRST_ENTRY, size=5)
    seeds["name-past-header.rar"] = with_header(plain, FIRST_ENTRY, name_size=200)
    seeds["method-0x36.rar"] = with_header(plain, FIRST_ENTRY, method=0x36)
    seeds["version-29.rar"] = with_header(plain, FIRST_ENTRY, version=29)
    seeds["split-entry.rar"] = with_header(plain, FIRST_ENTRY, flags=0x8000 | 0x80 | 0x02)
    sub = seal(struct.pack("<HBHHI", 0, 0x77, 0x8000, 11, 4)) + b"data"
    seeds["sub-block.rar"] = plain[:second] + sub + plain[second:]

    for name, data in seeds.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
