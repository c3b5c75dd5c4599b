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

# -j 1 and -j 2 take turns, so that other programs running meanwhile weigh
# on both alike; wall and processor time of each run, medians reported.
cat "$work/photos"/* >/dev/null
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$cli" "$work" "$runs" <<'PY'
import os, resource, statistics, subprocess, sys, time
cli, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
photos = sorted(os.path.join(work, "photos", f) for f in os.listdir(os.path.join(work, "photos")))
def run(jobs, dest):
    command = [cli, "encrypt", "--code", "614052", "--overwrite", "-q", "-j", str(jobs),
               "--dest", os.path.join(work, dest)] + photos
    start = time.perf_counter()
    child = subprocess.Popen(command)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"cli_jobs: -j {jobs} failed")
    return wall, usage.ru_utime + usage.ru_stime
walls, cpus = {1: [], 2: []}, {1: [], 2: []}
for i in range(runs + 1):  # the first round only warms up
    for jobs, dest in ((1, "one"), (2, "two")) if i % 2 == 0 else ((2, "two"), (1, "one")):
        wall, cpu = run(jobs, dest)
        if i > 0:
            walls[jobs].append(wall)
            cpus[jobs].append(cpu)
w1, w2 = statistics.median(walls[1]), statistics.median(walls[2])
c1, c2 = statistics.median(cpus[1]), statistics.median(cpus[2])
print(f"medians of {runs}: -j 1 {w1 * 1000:.0f} ms, -j 2 {w2 * 1000:.0f} ms, speed-up {w1 / w2:.2f}")
print(f"processor time (user + system): -j 1 {c1 * 1000:.0f} ms, -j 2 {c2 * 1000:.0f} ms")
PY
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
cmp_failed=0
for f in "$work/one"/*; do
  cmp -s "$f" "$work/two/$(basename "$f")" || { echo "differs: $(basename "$f")" >&2; cmp_failed=1; }
done
[ "$(ls "$work/one" | wc -l)" = 24 ] || { echo "not all outputs written" >&2; exit 1; }
[ "$cmp_failed" = 0 ] && echo "outputs of -j 1 and -j 2 are byte-identical"
exit "$cmp_failed"
