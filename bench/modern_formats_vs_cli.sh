#!/usr/bin/env bash
# Times `quorvex-cli info` (which decodes the whole picture) of a
# 12-megapixel file of each format read through a library beside that
# library's own command-line decoder writing nothing, or the cheapest raw
# format it has, in one hyperfine run per format; process start is included
# on both sides. Prints each ratio; the goal is at most 1.15.
#   bench/modern_formats_vs_cli.sh [BUILD_DIR] [RUNS] [FORMAT...]
# FORMAT: gif webp heic avif jp2 jxl (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
shift $(($# > 2 ? 2 : $#))
formats=("$@")
((${#formats[@]})) || formats=(gif webp heic avif jp2 jxl)
cli=$(realpath "$build/src/cli/quorvex-cli")
[ -x "$cli" ] || { echo "modern_formats_vs_cli: no $cli; build first" >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "modern_formats_vs_cli: needs hyperfine" >&2; exit 2; }

# Outputs the reference decoders cannot leave unwritten go to memory.
work=$(mktemp -d "${TMPDIR:-/dev/shm}/quorvex-modern.XXXXXX")
trap 'rm -rf "$work"' EXIT

# 4000 x 3000 pixels shaped like a photograph: smooth gradients with fine
# noise over them, so that no encoder finds it trivially small.
/usr/bin/python3 - "$work/source.png" <<'PYEOF'
import sys
from PIL import Image, ImageChops
size = (4000, 3000)
red = Image.linear_gradient("L").resize(size)
green = Image.radial_gradient("L").resize(size)
blue = Image.linear_gradient("L").rotate(90).resize(size)
noise = Image.effect_noise(size, 24)
channels = [ImageChops.add(c, noise, 1.0, -128) for c in (red, green, blue)]
Image.merge("RGB", channels).save(sys.argv[1], compress_level=1)
PYEOF

source=$work/source.png
declare -A reference
for format in "${formats[@]}"; do
  file=$work/picture.$format
  case $format in
    gif)
      convert "$source" "$file"
      reference[$format]="gif2rgb -1 -o /dev/null $file" ;;
    webp)
      cwebp -quiet -q 80 "$source" -o "$file"
      reference[$format]="dwebp -quiet $file -ppm -o /dev/null" ;;
    heic)
      heif-enc -q 60 -o "$file" "$source" >/dev/null
      reference[$format]="heif-convert $file $work/out.y4m" ;;
    avif)
      avifenc -j all --min 20 --max 30 "$source" "$file" >/dev/null
      reference[$format]="heif-convert $file $work/out.y4m" ;;
    jp2)
      opj_compress -r 20 -i "$source" -o "$file" >/dev/null
      reference[$format]="opj_decompress -threads ALL_CPUS -i $file -o $work/out.ppm" ;;
    jxl)
      cjxl -d 1 "$source" "$file" >/dev/null 2>&1
      reference[$format]="djxl $file" ;;
    *) echo "modern_formats_vs_cli: unknown format $format" >&2; exit 2 ;;
  esac
done

summary=()
for format in "${formats[@]}"; do
  file=$work/picture.$format
  echo "== $format: $(stat -c %s "$file") bytes; $("$cli" info "$file")" >&2
  hyperfine --shell=none --warmup 2 --runs "$runs" --export-json "$work/$format.json" \
    -n reference "${reference[$format]}" -n quorvex "$cli info $file" >&2
  ratio=$(/usr/bin/python3 - "$work/$format.json" <<'PYEOF'
import json, sys
runs = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
wall = {name: r["median"] for name, r in runs.items()}
cpu = {name: r["user"] + r["system"] for name, r in runs.items()}
print(f"{wall['quorvex'] / wall['reference']:.3f} "
      f"({wall['quorvex'] * 1000:.0f} ms vs {wall['reference'] * 1000:.0f} ms); processor time "
      f"{cpu['quorvex'] / cpu['reference']:.3f} "
      f"({cpu['quorvex'] * 1000:.0f} ms vs {cpu['reference'] * 1000:.0f} ms)")
PYEOF
  )
  summary+=("$format: quorvex-cli info / ${reference[$format]%% *} = $ratio")
done
printf '%s\n' "${summary[@]}"
