#!/usr/bin/env bash
# Times `quorvex-cli encrypt` of 24 photographs with -j 1 and with -j 2,
# page cache warm, prints the speed-up and checks that both runs write the
# same bytes.
#   bench/cli_jobs.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
cli=$build/src/cli/quorvex-cli
[ -x "$cli" ] || { echo "cli_jobs: no $cli; build first" >&2; exit 2; }
convert=$(command -v convert) || { echo "cli_jobs: needs ImageMagick's convert" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-cli-jobs.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos" "$work/one" "$work/two"

# Copies of one 12-megapixel photograph-like JPEG.
"$convert" -size 4000x3000 gradient:'#c84'-'#248' -attenuate 0.4 +noise Gaussian \
  -quality 90 "$work/photos/photo1.jpg"
for i in $(seq 2 24); do cp "$work/photos/photo1.jpg" "$work/photos/photo$i.jpg"; done
echo "pictures: 24 JPEGs of 4000 x 3000, $(du -sh "$work/photos" | cut -f1)"

run() { echo "$cli encrypt --code 614052 --overwrite -q -j $1 --dest $work/$2 $work/photos"/*.jpg; }
cat "$work/photos"/* >/dev/null
hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" "$(run 1 one)" "$(run 2 two)" >&2
cmp_failed=0
for f in "$work/one"/*; do
  cmp -s "$f" "$work/two/$(basename "$f")" || { echo "differs: $(basename "$f")" >&2; cmp_failed=1; }
done
[ "$(ls "$work/one" | wc -l)" = 24 ] || { echo "not all outputs written" >&2; exit 1; }
python3 -c '
import json, sys
one, two = json.load(open(sys.argv[1]))["results"]
m1, m2 = one["median"], two["median"]
c1, c2 = one["user"] + one["system"], two["user"] + two["system"]
print(f"medians: -j 1 {m1 * 1000:.0f} ms, -j 2 {m2 * 1000:.0f} ms, speed-up {m1 / m2:.2f}")
print(f"processor time (user + system): -j 1 {c1 * 1000:.0f} ms, -j 2 {c2 * 1000:.0f} ms")
' "$work/times.json"
[ "$cmp_failed" = 0 ] && echo "outputs of -j 1 and -j 2 are byte-identical"
exit "$cmp_failed"
