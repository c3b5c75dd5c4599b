#!/usr/bin/env bash
# Times `quorvex-cli encrypt` of a 50-megapixel 24-bit BMP beside `cp` of the
# same file, both with the page cache warm, and prints the ratio.
#   bench/cli_vs_cp.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
cli=$build/src/cli/quorvex-cli
[ -x "$cli" ] || { echo "cli_vs_cp: no $cli; build first" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-cli-vs-cp.XXXXXX")
trap 'rm -rf "$work"' EXIT
picture=$work/picture.bmp
mkdir "$work/out"

# 8192 x 6144 pixels (50.3 megapixels) of noise, bottom-up, 24 bits.
python3 - "$picture" <<'EOF'
import os, struct, sys
width, height = 8192, 6144
stride = (width * 3 + 3) // 4 * 4
size = stride * height
with open(sys.argv[1], "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + size, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, size, 2835, 2835, 0, 0))
    f.write(os.urandom(size))
EOF
echo "picture: $(stat -c %s "$picture") bytes, 8192 x 6144 Bits24"

# The encrypt saves through a temporary file that it flushes to disk before
# renaming it, so cp followed by a flush of the copy is timed as well.
cp_cmd=(cp "$picture" "$work/out/copy.bmp")
cp_sync_cmd=(sh -c 'cp "$1" "$2" && sync "$2"' - "$picture" "$work/out/copy.bmp")
# --overwrite: every run after the first replaces the output it made.
cli_cmd=("$cli" encrypt --code 614052 --mode save --overwrite --dest "$work/out" "$picture")
"${cli_cmd[@]}" >/dev/null  # also warms the page cache
cat "$picture" >/dev/null

if command -v hyperfine >/dev/null; then
  hyperfine --shell=none --warmup 2 --runs "$runs" --export-json "$work/times.json" \
    "${cp_cmd[*]}" "$(printf '%q ' "${cp_sync_cmd[@]}")" "${cli_cmd[*]}" >&2
  read -r cp_s cp_sync_s cli_s cp_cpu cp_sync_cpu cli_cpu < <(python3 -c '
import json, sys
results = json.load(open(sys.argv[1]))["results"]
print(*(r["median"] for r in results), *(r["user"] + r["system"] for r in results))' \
    "$work/times.json")
else
  # Median of repeated wall-clock timings.
  source "$(dirname "$0")/median_of.sh"
  cp_s=$(median_of "${cp_cmd[@]}")
  cp_sync_s=$(median_of "${cp_sync_cmd[@]}")
  cli_s=$(median_of "${cli_cmd[@]}")
  cp_cpu=0 cp_sync_cpu=0 cli_cpu=0
fi

python3 -c '
import sys
cp, cp_sync, cli, cp_cpu, cp_sync_cpu, cli_cpu = (float(a) for a in sys.argv[1:])
print(f"medians: cp {cp * 1000:.1f} ms, cp + sync {cp_sync * 1000:.1f} ms, "
      f"quorvex-cli encrypt {cli * 1000:.1f} ms")
print(f"the encrypt takes {cli / cp:.2f} x the time of cp, {cli / cp_sync:.2f} x that of cp + sync")
if cp_cpu > 0:
    print(f"processor time (user + system, means): cp {cp_cpu * 1000:.1f} ms, "
          f"cp + sync {cp_sync_cpu * 1000:.1f} ms, quorvex-cli encrypt {cli_cpu * 1000:.1f} ms; "
          f"{cli_cpu / cp_sync_cpu:.2f} x that of cp + sync")
' "$cp_s" "$cp_sync_s" "$cli_s" "$cp_cpu" "$cp_sync_cpu" "$cli_cpu"
