#!/usr/bin/python3
"""Reference decodes and fixtures for the pictures read through libraries.

decoder_reference.py decode DECODER FILE
    Decodes FILE with the format's own command-line decoder (heif-convert,
    avifdec, opj_decompress or djxl), or reads it with ImageMagick (source) and prints "WIDTH HEIGHT CHANNELS\n"
    followed by the samples, top row first, CHANNELS of 1 (grey), 2 (grey,
    alpha), 3 (RGB) or 4 (RGBA) a pixel. Samples wider than 8 bits are
    brought to 8 as v * 255 // maxval. Exit status 3 when the decoder fails.

decoder_reference.py fixture KIND WIDTH HEIGHT OUT
    Writes a small picture with a pattern that reaches every level: KIND is
    rgb, rgba, grey, greya, rgb16 or grey16 (PNG; 16-bit ones through
    ImageMagick), pgm12, pgm16, ppm16 (PNM of 12 and 16 bits), gif3 (an
    animation of three frames) or rgb-turned (rgb with EXIF orientation 6).
"""
import glob
import os
import subprocess
import sys
import tempfile

from PIL import Image


def read_pam(data):
    """Parses P5, P6 or P7 bytes into (width, height, channels, maxval, samples)."""
    if data.startswith(b"P7"):
        header_end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
        fields = dict(line.split(b" ", 1) for line in data[3:header_end - 7].split(b"\n") if b" " in line)
        width, height = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"])
        channels, maxval = int(fields[b"DEPTH"]), int(fields[b"MAXVAL"])
        body = data[header_end:]
    else:
        channels = 1 if data.startswith(b"P5") else 3
        tokens, at = [], 2
        while len(tokens) < 3:
            while data[at:at + 1].isspace():
                at += 1
            if data[at:at + 1] == b"#":
                at = data.index(b"\n", at)
                continue
            start = at
            while not data[at:at + 1].isspace():
                at += 1
            tokens.append(int(data[start:at]))
        width, height, maxval = tokens
        body = data[at + 1:]
    wide = maxval > 255
    count = width * height * channels
    if wide:
        samples = [(body[2 * i] << 8) | body[2 * i + 1] for i in range(count)]
    else:
        samples = list(body[:count])
    return width, height, channels, maxval, samples


def to_pam(path):
    """Any picture ImageMagick reads, as PAM bytes at its own depth (at most 16 bits)."""
    return subprocess.run(["/usr/bin/convert", path, "-depth", "16", "pam:-"]
                          if wider_than_16(path) else ["/usr/bin/convert", path, "pam:-"],
                          capture_output=True, check=True).stdout


def wider_than_16(path):
    """32-bit and floating-point samples, which PAM would keep at 32 bits."""
    depth = subprocess.run(["/usr/bin/identify", "-format", "%z\n", path], capture_output=True,
                           check=True, text=True).stdout.split()
    return bool(depth) and int(depth[0]) > 16


def decode(decoder, path):
    with tempfile.TemporaryDirectory() as work:
        if decoder == "opj_decompress":
            # PNM at the components' own precision: PGM, PPM, or PAM with alpha.
            out = os.path.join(work, "out.pnm")
            subprocess.run(["opj_decompress", "-i", path, "-o", out], capture_output=True, check=True)
            with open(out, "rb") as f:
                data = f.read()
        elif decoder == "source":
            # A picture the encoder was given, for lossless files.
            data = to_pam(path)
        else:
            out = os.path.join(work, "out.png")
            command = {"heif-convert": ["heif-convert", path, out],
                       "avifdec": ["avifdec", path, out],
                       "djxl": ["djxl", path, out]}[decoder]
            subprocess.run(command, capture_output=True, check=True)
            if not os.path.exists(out):
                # Files of several pictures come out numbered; the first is the primary.
                out = sorted(glob.glob(os.path.join(work, "out*.png")))[0]
            data = to_pam(out)
    width, height, channels, maxval, samples = read_pam(data)
    eight = bytes(v * 255 // maxval for v in samples)
    sys.stdout.buffer.write(f"{width} {height} {channels}\n".encode() + eight)


def pattern(x, y, width, height, channel, top):
    value = (x * 7 + y * 13 + channel * 101) * top // max(1, 7 * width + 13 * height + 303)
    return (value + (x * y * 31 if channel == 3 else 0)) % (top + 1)


def fixture(kind, width, height, out):
    if kind in ("pgm12", "pgm16", "ppm16"):
        channels = 3 if kind == "ppm16" else 1
        top = 4095 if kind == "pgm12" else 65535
        samples = [pattern(x, y, width, height, c, top)
                   for y in range(height) for x in range(width) for c in range(channels)]
        body = b"".join(v.to_bytes(2, "big") for v in samples)
        with open(out, "wb") as f:
            f.write(f"{'P6' if channels == 3 else 'P5'}\n{width} {height}\n{top}\n".encode() + body)
        return
    if kind == "gif3":
        # Three frames of different colours, the first the pattern.
        first = Image.new("RGB", (width, height))
        first.putdata([tuple(pattern(x, y, width, height, c, 255) for c in range(3))
                       for y in range(height) for x in range(width)])
        frames = [first.quantize(64), Image.new("P", (width, height), 1),
                  Image.new("P", (width, height), 2)]
        frames[0].save(out, save_all=True, append_images=frames[1:], duration=100, loop=0)
        return
    if kind == "rgb-turned":
        # Stored as the pattern, to be shown turned a quarter clockwise
        # (EXIF orientation 6).
        fixture("rgb", width, height, out)
        exif = Image.Exif()
        exif[0x0112] = 6
        with Image.open(out) as picture:
            picture.load()
        picture.save(out, exif=exif)
        return
    base = kind.rstrip("16")
    channels = {"rgb": 3, "rgba": 4, "grey": 1, "greya": 2}[base]
    if kind.endswith("16"):
        # 16-bit PNGs: written as PAM/PGM and converted by ImageMagick.
        samples = [pattern(x, y, width, height, c, 65535)
                   for y in range(height) for x in range(width) for c in range(channels)]
        body = b"".join(v.to_bytes(2, "big") for v in samples)
        tupl = {1: "GRAYSCALE", 3: "RGB"}[channels]
        pam = (f"P7\nWIDTH {width}\nHEIGHT {height}\nDEPTH {channels}\nMAXVAL 65535\n"
               f"TUPLTYPE {tupl}\nENDHDR\n").encode() + body
        subprocess.run(["/usr/bin/convert", "pam:-", "-depth", "16", "png48:" + out
                        if channels == 3 else "png:" + out], input=pam, check=True)
        return
    mode = {"rgb": "RGB", "rgba": "RGBA", "grey": "L", "greya": "LA"}[base]
    picture = Image.new(mode, (width, height))
    picture.putdata([tuple(pattern(x, y, width, height, c, 255) for c in range(channels))
                     if channels > 1 else pattern(x, y, width, height, 0, 255)
                     for y in range(height) for x in range(width)])
    picture.save(out)


def main():
    try:
        if sys.argv[1] == "decode":
            decode(sys.argv[2], sys.argv[3])
        else:
            fixture(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5])
    except (subprocess.CalledProcessError, OSError, IndexError, ValueError) as error:
        print(error, file=sys.stderr)
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
