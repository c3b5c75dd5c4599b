#!/usr/bin/env bash
# Times loading a 12-megapixel GIF and WebP files (lossy, lossless, with
# alpha) with `quorvex-cli info`, which decodes the whole picture and writes
# nothing, beside the formats' own command-line decoders writing nothing
# either (dwebp without -o; gif2rgb into /dev/null), process start included
# on both sides, and prints the ratios.
#   bench/gif_webp_vs_tools.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
cli=$build/src/cli/quorvex-cli
[ -x "$cli" ] || { echo "gif_webp_vs_tools: no $cli; build first" >&2; exit 2; }
for tool in cwebp dwebp gif2rgb hyperfine /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "gif_webp_vs_tools: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-gif-webp.XXXXXX")
trap 'rm -rf "$work"' EXIT

# 4000 x 3000 pixels: smooth gradients with grain, like a photograph, and an
# alpha channel of its own.
/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
size = (4000, 3000)
red = Image.linear_gradient("L").resize(size)
green = Image.radial_gradient("L").resize(size)
grain = Image.effect_noise(size, 40)
blue = Image.blend(red.rotate(90, expand=False), grain, 0.5)
rgb = Image.merge("RGB", (red, green, blue))
rgb.save(f"{work}/picture.png")
Image.merge("RGBA", (red, green, blue, Image.blend(green, grain, 0.3))).save(f"{work}/alpha.png")
rgb.quantize(256).save(f"{work}/picture.gif")
PY
cwebp -quiet -q 85 "$work/picture.png" -o "$work/lossy.webp"
cwebp -quiet -lossless -z 1 "$work/picture.png" -o "$work/lossless.webp"
cwebp -quiet -q 85 "$work/alpha.png" -o "$work/alpha.webp"

results=()
run_pair() {
  local name=$1 file=$2
  shift 2
  hyperfine --shell=none --warmup 2 --runs "$runs" --export-json "$work/$name.json" \
    "$*" "$cli info $file" >&2
  results+=("$(python3 -c '
import json, sys
own, ours = (r["median"] for r in json.load(open(sys.argv[1]))["results"])
print(f"{sys.argv[2]}: reference {own * 1000:.1f} ms, quorvex-cli {ours * 1000:.1f} ms, "
      f"ratio {ours / own:.2f}")' "$work/$name.json" "$name")")
}
run_pair "WebP lossy" "$work/lossy.webp" dwebp -quiet "$work/lossy.webp"
run_pair "WebP lossless" "$work/lossless.webp" dwebp -quiet "$work/lossless.webp"
run_pair "WebP lossy with alpha" "$work/alpha.webp" dwebp -quiet "$work/alpha.webp"
# gif2rgb writes its planes to files only: /dev/null takes them.
run_pair "GIF" "$work/picture.gif" gif2rgb -1 -o /dev/null "$work/picture.gif"
printf '%s\n' "${results[@]}"
