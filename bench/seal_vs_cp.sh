#!/usr/bin/env bash
# Times `quorvex-cli encrypt --seal` of a 100 MB file beside `cp` then `sync`
# of the same file, page cache warm, and prints the ratio. The sealing run
# includes its one key derivation; seal_bench times that alone.
#   bench/seal_vs_cp.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
cli=$build/src/cli/quorvex-cli
[ -x "$cli" ] || { echo "seal_vs_cp: no $cli; build first" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-seal-vs-cp.XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/camera.raw
mkdir "$work/out"
head -c 100000000 /dev/urandom >"$file"
echo "file: $(stat -c %s "$file") bytes"

# Sealing writes a temporary file, flushes it and renames it; cp is followed
# by a flush of its copy to match.
export QUORVEX_CODE="a long passphrase"
cp_sync_cmd=(sh -c 'cp "$1" "$2" && sync "$2"' - "$file" "$work/out/copy.raw")
seal_cmd=("$cli" encrypt --seal --overwrite --dest "$work/out" "$file")
"${seal_cmd[@]}" >/dev/null  # also warms the page cache
cat "$file" >/dev/null

source "$(dirname "$0")/median_of.sh"
cp_sync_s=$(median_of "${cp_sync_cmd[@]}")
seal_s=$(median_of "${seal_cmd[@]}")

python3 -c '
import sys
cp_sync, seal = (float(a) for a in sys.argv[1:])
print(f"medians: cp + sync {cp_sync * 1000:.1f} ms, quorvex-cli encrypt --seal {seal * 1000:.1f} ms")
print(f"sealing takes {seal / cp_sync:.2f} x the time of cp + sync "
      f"({100 / seal:.0f} MB/s, key derivation included)")
' "$cp_sync_s" "$seal_s"
