#!/usr/bin/env bash
# Times `quorvex-cli info` of a 12-megapixel JPEG beside `djpeg` of the same
# file into /dev/null, page cache warm, and prints the ratio; then the peak
# resident memory of loading a 10000 x 10000 JPEG beside its bitmap's size.
#   bench/jpeg_vs_djpeg.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
cli=$build/src/cli/quorvex-cli
[ -x "$cli" ] || { echo "jpeg_vs_djpeg: no $cli; build first" >&2; exit 2; }
command -v djpeg >/dev/null || { echo "jpeg_vs_djpeg: needs djpeg (libjpeg-turbo-progs)" >&2; exit 2; }
convert=$(command -v convert) || { echo "jpeg_vs_djpeg: needs ImageMagick's convert" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-jpeg-vs-djpeg.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Photograph-like: smooth shading under fine noise, quality 90, 4:2:0.
photo() {
  "$convert" -size "$1" gradient:'#c84'-'#248' -attenuate 0.4 +noise Gaussian \
    -sampling-factor 2x2 -quality 90 "$2"
}
photo 4000x3000 "$work/photo12.jpg"
echo "picture: $(stat -c %s "$work/photo12.jpg") bytes, 4000 x 3000"

cli_cmd=("$cli" info "$work/photo12.jpg")
djpeg_cmd=(djpeg -outfile /dev/null "$work/photo12.jpg")
"${cli_cmd[@]}" >/dev/null

if command -v hyperfine >/dev/null; then
  hyperfine --shell=none --warmup 2 --runs "$runs" --export-json "$work/times.json" \
    "${djpeg_cmd[*]}" "${cli_cmd[*]}" >&2
  read -r djpeg_s cli_s djpeg_cpu cli_cpu < <(python3 -c '
import json, sys
results = json.load(open(sys.argv[1]))["results"]
print(*(r["median"] for r in results), *(r["user"] + r["system"] for r in results))' \
    "$work/times.json")
else
  source "$(dirname "$0")/median_of.sh"
  djpeg_s=$(median_of "${djpeg_cmd[@]}")
  cli_s=$(median_of "${cli_cmd[@]}")
  djpeg_cpu=0 cli_cpu=0
fi
python3 -c '
import sys
djpeg, cli, djpeg_cpu, cli_cpu = (float(a) for a in sys.argv[1:])
print(f"medians: djpeg {djpeg * 1000:.1f} ms, quorvex-cli info {cli * 1000:.1f} ms")
print(f"loading takes {cli / djpeg:.2f} x the time of djpeg")
if djpeg_cpu > 0:
    print(f"processor time (user + system, means): djpeg {djpeg_cpu * 1000:.1f} ms, "
          f"quorvex-cli info {cli_cpu * 1000:.1f} ms, {cli_cpu / djpeg_cpu:.2f} x")
' "$djpeg_s" "$cli_s" "$djpeg_cpu" "$cli_cpu"

# Peak memory: GNU time's maximum resident set size, in KiB.
if [ -x /usr/bin/time ]; then
  # Beyond ImageMagick's default limits: rows of shading and noise streamed
  # into cjpeg.
  python3 -c '
import os, sys
w = h = 10000
out = sys.stdout.buffer
out.write(b"P6 %d %d 255\n" % (w, h))
ramp = bytes((x * 255 // w) for x in range(w) for _ in range(3))
rows = [bytes((a + b % 24 + 24 * shade) & 0xFF for a, b in zip(ramp, os.urandom(3 * w)))
        for shade in range(8) for _ in range(31)]
for y in range(h):
    out.write(rows[(y * 8 // h) * 31 + y % 31])
' | cjpeg -quality 90 -sample 2x2 >"$work/photo100.jpg"
  /usr/bin/time -f %M -o "$work/rss" "$cli" info "$work/photo100.jpg" >/dev/null
  python3 -c '
import sys
rss = int(open(sys.argv[1]).read().split()[-1]) * 1024
bitmap = (10000 * 3 + 3) // 4 * 4 * 10000
print(f"10000 x 10000: peak RSS {rss / 2**20:.0f} MiB, bitmap {bitmap / 2**20:.0f} MiB, "
      f"{rss / bitmap:.2f} x the bitmap")
' "$work/rss"
else
  echo "no GNU time (package time): peak memory not measured" >&2
fi
