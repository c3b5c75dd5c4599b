// Decoding speed of the portable map and SGI readers on 4000 x 3000
// pictures (the text map 300 x 200), beside Pillow decoding the very same files
// in the same run: the ratio is the figure that counts. Pillow makes the
// files at start-up in a temporary folder; ImageMagick writes the run-length
// and 16-bit SGI files, which Pillow cannot.
//
// Both sides are timed in processor time of their process. Counters: ms is
// ours per decode, pillow_ms Pillow's best of 5 (Image.open + load), and
// vs_pillow Pillow's time divided by ours (above 1: we are faster).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "picture/readers/ppm_reader.h"
#include "picture/readers/sgi_reader.h"

namespace {

// Made after the shared photo and graphic pictures.
constexpr const char* kScript = R"(
import subprocess

def save(picture, name):
    picture.save(folder + "/" + name)

def magick(source, name, *options):
    subprocess.run(["/usr/bin/convert", folder + "/" + source, *options, folder + "/" + name],
                   check=True)

save(photo, "ppm_p6_photo.ppm")
save(photo.convert("L"), "ppm_p5_photo.pgm")
save(photo.convert("1"), "ppm_p4_photo.pbm")
with open(folder + "/ppm_p5_16bit_photo.pgm", "wb") as f:
    gray = photo.convert("L").tobytes()
    f.write(b"P5\n%d %d\n65535\n" % (W, H))
    wide = bytearray(2 * len(gray))
    wide[0::2] = gray
    wide[1::2] = gray
    f.write(wide)
# Pillow 9 misreads text maps of more than its 1 MB block, so this one stays
# below it.
small = photo.resize((300, 200))
with open(folder + "/ppm_p3_text_photo.ppm", "w") as f:
    f.write("P3\n300 200\n255\n")
    data = small.tobytes()
    for y in range(200):
        f.write(" ".join(str(v) for v in data[y * 900:(y + 1) * 900]) + "\n")
save(photo, "sgi_raw_photo.rgb")
save(graphic, "ppm_graphic.ppm")
magick("ppm_graphic.ppm", "sgi_rle_graphic.sgi", "-compress", "RLE")
magick("ppm_p6_photo.ppm", "sgi_rle_photo.sgi", "-compress", "RLE")
magick("ppm_p6_photo.ppm", "sgi_rle16_photo.sgi", "-depth", "16", "-compress", "RLE")

names = ["ppm_p6_photo.ppm", "ppm_p5_photo.pgm", "ppm_p4_photo.pbm",
         "ppm_p5_16bit_photo.pgm", "ppm_p3_text_photo.ppm", "sgi_raw_photo.rgb",
         "sgi_rle_graphic.sgi", "sgi_rle_photo.sgi", "sgi_rle16_photo.sgi"]
)";

}  // namespace

int main(int argc, char** argv) {
  return quorvex::bench::RunBesidePillow<quorvex::TPPMGraphic, quorvex::TSGIGraphic>(
      argc, argv, "quorvex_ppm_sgi_bench", kScript, "ppm",
      "could not make the test files (/usr/bin/python3 with PIL, convert)");
}
