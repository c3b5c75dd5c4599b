#!/usr/bin/env python3
"""Small crafted files that claim large pictures, one or more per reader, and
what `quorvex-cli info` costs on each: peak memory and wall time from
/usr/bin/time -v.

    bench/hostile_files.py OUTDIR [CLI...]

writes the files into OUTDIR and, for each CLI given, prints a table row
per file. cjpeg (libjpeg-turbo) makes the JPEG bodies.

    bench/hostile_files.py --seeds DIR

writes the small ones (and a small picture of many scans) as seeds for the
large-picture fuzz target.
"""
import os
import re
import struct
import subprocess
import sys
import zlib

SIDE = 16000


def targa(rle, packets=64):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10 if rle else 2, 0, 0, 0, 0, 0, SIDE, SIDE, 24, 0x20)
    body = bytes([0xFF, 1, 2, 3]) * packets if rle else b"\x80" * 256
    return header + body


def pcx(rle, planes=3):
    h = struct.pack("<BBBBHHHHHH", 10, 5, 1 if rle else 0, 8, 0, 0, SIDE - 1, SIDE - 1, 72, 72)
    h += bytes(48) + bytes([0, planes]) + struct.pack("<HH", SIDE, 1)
    h += bytes(128 - len(h))
    return h + bytes([0xFF, 7]) * 200


def sgi(rle, shared_rows=False):
    h = struct.pack(">HBBHHHH", 474, 1 if rle else 0, 1, 3, SIDE, SIDE, 3)
    h += bytes(512 - len(h))
    if not rle:
        return h + bytes(100)
    entries = SIDE * 3
    row = bytes([0x7F, 9]) * (SIDE // 127) + bytes([SIDE % 127, 9, 0])
    if not shared_rows:
        return h + bytes(100)
    start = 512 + entries * 8
    return h + struct.pack(">%dI" % entries, *([start] * entries)) + \
        struct.pack(">%dI" % entries, *([len(row)] * entries)) + row


def tiff(compression, data, samples=3, bits=8, photometric=2, tile=0):
    """One strip, or with `tile` one square tile of that size listed."""
    offsets, counts = (324, 325) if tile else (273, 279)
    entries = [
        (256, 4, 1, SIDE), (257, 4, 1, SIDE), (258, 3, 1, bits),
        (259, 3, 1, compression), (262, 3, 1, photometric), (offsets, 4, 1, 0),
        (277, 3, 1, samples), (278, 4, 1, SIDE), (counts, 4, 1, len(data)),
    ]
    if tile:
        entries += [(322, 4, 1, tile), (323, 4, 1, tile)]
        entries.sort()
    ifd_at = 8
    data_at = ifd_at + 2 + 12 * len(entries) + 4
    out = b"II*\x00" + struct.pack("<I", ifd_at) + struct.pack("<H", len(entries))
    for tag, typ, count, value in entries:
        if tag == offsets:
            value = data_at
        packed = struct.pack("<H", value) + b"\0\0" if typ == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, typ, count) + packed
    return out + b"\0\0\0\0" + data


def cjpeg(pgm_side, options):
    pgm = b"P5 %d %d 255\n" % (pgm_side, pgm_side) + bytes([128]) * (pgm_side * pgm_side)
    return subprocess.run(["cjpeg"] + options, input=pgm, capture_output=True, check=True).stdout


def jpeg_header_only():
    small = cjpeg(16, ["-grayscale"])
    sof = small.index(b"\xff\xc0")
    patched = bytearray(small)
    patched[sof + 5:sof + 9] = struct.pack(">HH", SIDE, SIDE)
    sos = small.index(b"\xff\xda")
    length = struct.unpack(">H", small[sos + 2:sos + 4])[0]
    return bytes(patched[:sos + 2 + length]) + b"\xff\xd9"


def scans_of(jpeg):
    """Start offsets of each scan's marker group, and where the last ends."""
    at, groups, group_start = 2, [], 2
    while True:
        marker = jpeg[at + 1]
        length = struct.unpack(">H", jpeg[at + 2:at + 4])[0]
        at += 2 + length
        if marker != 0xDA:
            continue
        while not (jpeg[at] == 0xFF and jpeg[at + 1] not in (0,) and not 0xD0 <= jpeg[at + 1] <= 0xD7):
            at += 1
        groups.append((group_start, at))
        group_start = at
        if jpeg[at + 1] == 0xD9:
            return groups


def many_scans(side, scans):
    """A progressive picture whose last scan is repeated to `scans` scans."""
    jpeg = cjpeg(side, ["-grayscale", "-progressive"])
    groups = scans_of(jpeg)
    first, end = groups[-1]
    return jpeg[:first] + jpeg[first:end] * (scans - len(groups) + 1) + b"\xff\xd9"


def bmp_rle8():
    pixels = bytes([0, 1])  # end of bitmap at once
    info = struct.pack("<IiiHHIIiiII", 40, SIDE, SIDE, 1, 8, 1, len(pixels), 0, 0, 0, 0)
    off = 14 + 40 + 1024
    return b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off) + info + bytes(1024) + pixels


def png_claim():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    ihdr = struct.pack(">IIBBBBB", SIDE, SIDE, 8, 2, 0, 0, 0)
    row = bytes(1 + SIDE * 3)
    z = zlib.compressobj(9)
    idat = b"".join(z.compress(row) for _ in range(200)) + z.flush()
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")


def ppm_claim():
    return b"P6 %d %d 255\n" % (SIDE, SIDE) + bytes(300)


def psd_claim():
    h = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, SIDE, SIDE, 8, 3)
    return h + struct.pack(">III", 0, 0, 0) + struct.pack(">H", 0) + bytes(300)


def cut_claim():
    return struct.pack("<HHH", SIDE, SIDE, 0) + (struct.pack("<H", 5) + bytes([0xFF, 7, 0])) * 50


def autodesk_claim():
    return struct.pack("<HHHHHBB", 0x9119, SIDE, SIDE, 0, 0, 8, 0) + bytes(20) + bytes(768) + bytes(100)


def rla_shared_lines():
    h = bytearray(740)
    struct.pack_into(">8h", h, 0, 0, SIDE - 1, 0, SIDE - 1, 0, SIDE - 1, 0, SIDE - 1)
    struct.pack_into(">4h", h, 20, 3, 0, 0, -2)
    h[580:583] = b"rgb"
    struct.pack_into(">h", h, 658, 8)
    runs = bytes([127, 9]) * (SIDE // 128)
    line = (struct.pack(">H", len(runs)) + runs) * 3
    start = 740 + 4 * SIDE
    return bytes(h) + struct.pack(">%dI" % SIDE, *([start] * SIDE)) + line


def bmp_raw_header():
    info = struct.pack("<IiiHHIIiiII", 40, SIDE, SIDE, 1, 24, 0, 0, 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + 100, 0, 0, 54) + info + bytes(100)


FILES = {
    "targa_rle.tga": lambda: targa(True),
    "targa_raw.tga": lambda: targa(False),
    "pcx_rle.pcx": lambda: pcx(True),
    "pcx_raw.pcx": lambda: pcx(False),
    "sgi_raw.sgi": lambda: sgi(False),
    "sgi_rle_shared_rows.sgi": lambda: sgi(True, True),
    "tiff_raw.tif": lambda: tiff(1, bytes(64)),
    "tiff_packbits.tif": lambda: tiff(32773, bytes([0x81, 0]) * 64),
    "tiff_deflate.tif": lambda: tiff(8, zlib.compress(bytes(1 << 20), 9)),
    "tiff_fax.tif": lambda: tiff(3, bytes(64), samples=1, bits=1, photometric=0),
    "tiff_tiled_deflate.tif": lambda: tiff(8, zlib.compress(bytes(256 * 256 * 3), 9), tile=256),
    "tiff_giant_tile.tif": lambda: tiff(8, zlib.compress(bytes(1 << 20), 9), tile=65520),
    "jpeg_header_only.jpg": jpeg_header_only,
    "jpeg_4000_scans.jpg": lambda: many_scans(8000, 4000),
    "jpeg_100_scans.jpg": lambda: many_scans(8000, 100),
    "bmp_rle8_end.bmp": bmp_rle8,
    "bmp_raw_header.bmp": bmp_raw_header,
    "rla_shared_lines.rla": rla_shared_lines,
    "png_deflate.png": png_claim,
    "ppm_header_only.ppm": ppm_claim,
    "psd_header_only.psd": psd_claim,
    "cut_header.cut": cut_claim,
    "autodesk_header.cel": autodesk_claim,
}


def measure(cli, path):
    limit = os.environ.get("HOSTILE_TIMEOUT", "600")
    run = subprocess.run(["/usr/bin/time", "-v", "timeout", limit, cli, "info", path],
                         capture_output=True, text=True)
    if run.returncode == 124:
        return 0, float(limit), "killed after %s s" % limit
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr).group(1))
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", run.stderr).group(1)
    seconds = sum(float(part) * 60 ** i for i, part in enumerate(reversed(wall.split(":"))))
    out = [line for line in (run.stdout + run.stderr.split("\tCommand being timed")[0]).splitlines()
           if line.strip() and not line.startswith("Command exited")]
    return rss // 1024, seconds, out[-1] if out else ""


SEED_LIMIT = 16 << 10


def write_seeds(outdir):
    os.makedirs(outdir, exist_ok=True)
    seeds = {name: make() for name, make in FILES.items() if "scans" not in name}
    seeds["jpeg_150_scans.jpg"] = many_scans(256, 150)
    for name, data in seeds.items():
        if len(data) <= SEED_LIMIT:
            with open(os.path.join(outdir, name), "wb") as f:
                f.write(data)


def main():
    if sys.argv[1] == "--seeds":
        write_seeds(sys.argv[2])
        return
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, make in FILES.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(make())
    for cli in sys.argv[2:]:
        print("##", cli)
        print("| file | bytes | peak MB | seconds | outcome |")
        for name in FILES:
            path = os.path.join(outdir, name)
            mb, seconds, outcome = measure(cli, path)
            print("| %s | %d | %d | %.2f | %s |" % (name, os.path.getsize(path), mb, seconds, outcome[:70]))


if __name__ == "__main__":
    main()
