#!/usr/bin/python3
"""Writes a small PNG fixture for the encoders of other formats to start
from: make_fixture_png.py OUT WIDTH HEIGHT MODE [VARIANT]

MODE is a Pillow mode (RGB, RGBA, L, LA, I;16). The pixels are a fixed
pattern with every channel changing from pixel to pixel, so that a reader
that swaps, mirrors or drops anything shows it; VARIANT shifts the pattern
(for the frames of an animation).
"""
import sys

from PIL import Image


def main() -> int:
    out, width, height, mode = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    variant = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    bands = {"RGB": 3, "RGBA": 4, "L": 1, "LA": 2, "I;16": 1}[mode]
    pixels = []
    for y in range(height):
        for x in range(width):
            values = [(x * 37 + y * 11 + 71 * band + 50 * variant) % 256 for band in range(bands)]
            if mode in ("RGBA", "LA"):
                values[-1] = (x * 53 + y * 29 + 17) % 256
            if mode == "I;16":
                values = [(x * 9001 + y * 3313 + 977 * variant) % 65536]
            pixels.append(tuple(values) if bands > 1 else values[0])
    picture = Image.new("I" if mode == "I;16" else mode, (width, height))
    picture.putdata(pixels)
    if mode == "I;16":
        picture = picture.convert("I;16")
    picture.save(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
