#!/usr/bin/env bash
# HFS+ benchmarks against The Sleuth Kit, on one generated bare HFS+ volume:
#   - `ondrel-cli ls` of the whole tree against `fls -r -p`;
#   - `ondrel-cli recover` of the whole volume against `tsk_recover -a`;
#   - the Deep mode's sweep of the whole volume (`ondrel-cli ls --mode deep`)
#     against reading the volume raw (`cat` to /dev/null).
# Each figure is the best of RUNS runs with the image in the page cache:
# wall-clock seconds and peak resident memory, from /usr/bin/time.
#
# Usage: bench/hfs-bench.sh [FILES (default 100000)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path        the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli;
#                          this script never builds it)
#   HFS_BENCH_IMAGE=path   use this bare HFS+ volume instead of generating one (FILES is ignored)
#   HFS_BENCH_KEEP=path    keep the generated image at this path (for HFS_BENCH_IMAGE later)
#   HFS_BENCH_OUT=dir      where both recoveries write (default: the temp dir under /var/tmp)
# Generating needs no root: xorriso writes an ISO 9660 / HFS+ hybrid from a
# staged tree (HFS+ 2 KiB blocks, about 2 GiB with the large files) and the
# HFS+ volume is cut out of it. Measuring needs fls, fsstat and tsk_recover
# (Debian packages xorriso, sleuthkit, time, bc).
set -euo pipefail
PROG=hfs-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args HFS "$@"
need "sleuthkit python3 bc" fls fsstat tsk_recover python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"

make_work /var/tmp/ondrel-hfs-bench.XXXXXX

# ---------------------------------------------------------------------------
# 1. The volume: FILES small files (200 B .. 4 KiB of deterministic content)
#    in 10 x 10 folders and 28 large files of 64 MiB (seeded pseudo-random
#    bytes), so the volume is about 2 GiB; xorriso writes it, fixturelib's
#    hfs_extract cuts the HFS+ volume out of the ISO. Generating is not timed
#    against anything and runs at nice 19.
# ---------------------------------------------------------------------------
if [[ -z $image ]]; then
  need xorriso xorriso
  log "staging $files small files and 28 large ones in $WORK"
  gen_start=$(date +%s.%N)
  stage="$WORK/stage"
  mkdir "$stage"
  nice -n 19 python3 - "$stage" "$files" >"$WORK/gen.log" <<'PY'
import os, random, sys
stage, files = sys.argv[1], int(sys.argv[2])
T = 1717236000  # 2024-06-01 10:00:00 UTC
rng = random.Random(20240601)
pool = rng.randbytes(1 << 20)
leaves = [f"dir{a:02d}/sub{b:02d}" for a in range(10) for b in range(10)]
for leaf in leaves:
    os.makedirs(os.path.join(stage, leaf))
os.makedirs(os.path.join(stage, "big"))
def put(name, data, t):
    p = os.path.join(stage, name)
    with open(p, "wb") as f:
        f.write(data)
    os.utime(p, (t, t))
for i in range(files):
    leaf = leaves[i % len(leaves)]
    name = f"{leaf}/file{i:06d}.{('txt', 'dat', 'log', 'bin')[i % 4]}"
    size = 200 + (i * 7919) % 3897
    off = (i * 104729) % (len(pool) - size)
    put(name, f"{name} #{i}\n".encode() + pool[off:off + size], T + i)
for n in range(28):
    p = os.path.join(stage, f"big/large{n:02d}.bin")
    with open(p, "wb") as f:
        r = random.Random(n)
        for _ in range(16):
            f.write(r.randbytes(4 << 20))
    os.utime(p, (T, T))
for d, _, _ in os.walk(stage):
    os.utime(d, (T, T))
print(files + 28)
PY
  read -r written <"$WORK/gen.log"
  deleted=0
  log "xorriso -hfsplus ($written files)"
  run_quiet "$WORK/xorriso.log" nice -n 19 xorriso -as mkisofs -quiet -hfsplus -hfsplus-block-size 2048 \
    -hfsplus-serial-no 4f6e6472656c4846 -V BENCH -o "$WORK/bench.iso" "$stage"
  rm -rf "$stage"
  image="$WORK/hfs.img"
  nice -n 19 python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import fixturelib; fixturelib.hfs_extract(sys.argv[2], sys.argv[3])' \
    "$BENCH_ROOT/tests/fixtures" "$WORK/bench.iso" "$image"
  rm -f "$WORK/bench.iso"
  size_mib=$(( $(stat -c %s "$image") / 1048576 ))
  end_generating
else
  given_image
fi
size_mb=$(( ($(stat -c %s "$image") + 1048575) / 1048576 ))
fsstat "$image" >"$WORK/fsstat" 2>&1 || { head -n 5 "$WORK/fsstat" >&2; die "fsstat cannot read $image"; }
grep -q '^File System Type: HFS+' "$WORK/fsstat" || die "$image is not a bare HFS+ volume (fsstat: $(grep -m1 '^File System Type' "$WORK/fsstat" || echo '?'))"

# ---------------------------------------------------------------------------
# 2. Measurements.
# ---------------------------------------------------------------------------
time_listings hfs+
time_recoveries hfs+
cat "$image" >/dev/null
measure - "$cli" ls --start-sector 0 --fs hfs+ --size-mb "$size_mb" --mode deep "$image"
deep_s=$best_s deep_kib=$best_kib
"$cli" ls --start-sector 0 --fs hfs+ --size-mb "$size_mb" --mode deep "$image" >"$WORK/deep.ls"
measure - cat "$image"
raw_s=$best_s raw_kib=$best_kib

echo
echo "HFS+ volume: $image ($size_mb MiB), best of $runs run(s), image in the page cache"
printf "listed lines: ondrel-cli ls %d, ls --mode deep %d, fls -r -p %d\n" \
  "$(wc -l <"$WORK/ours.ls")" "$(wc -l <"$WORK/deep.ls")" "$(grep -v -c ':	\$' "$WORK/fls.ls" || true)"
print_recovered '$* metadata files'
print_table
compare_row "ls --mode deep (sweep) vs cat" "$deep_s" "$raw_s" "<= 2" "$deep_kib" "$raw_kib" "-"
warn_if_apart '$* metadata files'
cmp -s <(cut -f1 "$WORK/ours.ls" | sort) <(cut -f1 "$WORK/deep.ls" | sort) ||
  log "warning: the deep listing's paths differ from the standard listing's"
