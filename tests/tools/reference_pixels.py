#!/usr/bin/python3
"""Prints a picture as an independent decoder sees it: Pillow, or ImageMagick
for the few files Pillow refuses.

With --upright the picture is first turned as its EXIF orientation says;
with --imagemagick only ImageMagick decodes it.
Floating-point pictures show 0 to 1 as black to white, clamped.
CIELab pictures (D50, as TIFF and Photoshop store them) are shown in sRGB
through littleCMS, without its precalculated tables, which bend colours
outside sRGB by many levels.

Output: "WIDTH HEIGHT\n" followed by WIDTH*HEIGHT*3 bytes of red, green, blue,
top row first. Exit status 3 when neither can decode the file.
"""
import subprocess
import sys

from PIL import Image, ImageCms, ImageOps

UPRIGHT = "--upright" in sys.argv[1:]
IMAGEMAGICK_ONLY = "--imagemagick" in sys.argv[1:]
NOT_PRECALCULATED = 0x0100  # cmsFLAGS_NOOPTIMIZE


def to_rgb(picture):
    if picture.mode == "LAB":
        transform = ImageCms.buildTransform(ImageCms.createProfile("LAB"),
                                            ImageCms.createProfile("sRGB"), "LAB", "RGB",
                                            flags=NOT_PRECALCULATED)
        return ImageCms.applyTransform(picture, transform)
    if picture.mode == "F":
        levels = Image.new("L", picture.size)
        levels.putdata([round(min(max(v, 0.0), 1.0) * 255) if v == v else 0
                        for v in picture.getdata()])
        picture = levels
    return picture.convert("RGB")


def with_pillow(path):
    with Image.open(path) as picture:
        rgb = to_rgb(ImageOps.exif_transpose(picture) if UPRIGHT else picture)
        return rgb.size, rgb.tobytes()


def with_imagemagick(path):
    if UPRIGHT:
        raise RuntimeError("only Pillow turns pictures upright here")
    size = subprocess.run(["/usr/bin/identify", "-format", "%w %h\n", path + "[0]"],
                          capture_output=True, check=True, text=True).stdout.split()
    data = subprocess.run(["/usr/bin/convert", path + "[0]", "-depth", "8", "rgb:-"],
                          capture_output=True, check=True).stdout
    return (int(size[0]), int(size[1])), data


def main() -> int:
    path = [arg for arg in sys.argv[1:] if arg not in ("--upright", "--imagemagick")][0]
    decoders = (with_imagemagick,) if IMAGEMAGICK_ONLY else (with_pillow, with_imagemagick)
    for decoder in decoders:
        try:
            (width, height), data = decoder(path)
        except Exception as error:  # any decoding failure: try the next one
            print(f"{decoder.__name__}: {error}", file=sys.stderr)
            continue
        sys.stdout.buffer.write(f"{width} {height}\n".encode() + data)
        return 0
    return 3


if __name__ == "__main__":
    sys.exit(main())
