#!/usr/bin/env bash
# NTFS benchmarks against The Sleuth Kit, on one generated bare NTFS volume:
#   - `ondrel-cli ls` of the whole tree against `fls -r -p`;
#   - `ondrel-cli recover` of the whole volume against `tsk_recover -a`.
# Each figure is the best of RUNS runs with the image in the page cache:
# wall-clock seconds and peak resident memory, from /usr/bin/time.
#
# Usage: bench/ntfs-bench.sh [FILES (default 100000)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path         the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli;
#                           this script never builds it)
#   NTFS_BENCH_IMAGE=path   use this NTFS volume image instead of generating one (FILES is ignored)
#   NTFS_BENCH_KEEP=path    keep the generated image at this path (for NTFS_BENCH_IMAGE later)
#   NTFS_BENCH_SIZE_MIB=n   size of the generated volume (default: from FILES, at least 2048)
#   NTFS_BENCH_OUT=dir      where both recoveries write (default: the temp dir under /var/tmp);
#                           e.g. /dev/shm to time the tools rather than the output file system
# Generating needs root, a loop device, FUSE and ntfs-3g; measuring needs fls and tsk_recover
# (Debian packages ntfs-3g, sleuthkit, time).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
files=${1:-100000}
runs=${2:-3}
cli="${ONDREL_CLI:-$root/build-bench/src/cli/ondrel-cli}"
image="${NTFS_BENCH_IMAGE:-}"
keep="${NTFS_BENCH_KEEP:-}"

die() { echo "ntfs-bench: $*" >&2; exit 1; }
[[ $files =~ ^[0-9]+$ && $files -ge 1 ]] || die "FILES must be a positive number"
[[ $runs =~ ^[0-9]+$ && $runs -ge 1 ]] || die "RUNS must be a positive number"
[[ -x $cli ]] || die "$cli is missing: build it first (e.g. scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release) or set ONDREL_CLI"
for t in fls tsk_recover python3; do
  command -v "$t" >/dev/null || die "$t is needed (apt install sleuthkit python3)"
done
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"

work=$(mktemp -d /var/tmp/ondrel-ntfs-bench.XXXXXX)
mnt="" loopdev=""
cleanup() {
  set +e
  if [[ -n $mnt ]] && mountpoint -q "$mnt"; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
  fi
  [[ -n $loopdev ]] && losetup -d "$loopdev" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------
# 1. The volume: mkntfs on a sparse file, filled through ntfs-3g (via a loop
#    device, so that umount waits until everything is written).
# ---------------------------------------------------------------------------
if [[ -z $image ]]; then
  [[ ${EUID:-$(id -u)} -eq 0 ]] || die "generating the image needs root (loop device + FUSE); or set NTFS_BENCH_IMAGE"
  for t in mkntfs ntfs-3g losetup mountpoint; do
    command -v "$t" >/dev/null || die "$t is needed (apt install ntfs-3g util-linux)"
  done
  # Small files average ~2.3 KiB (one or two 4 KiB clusters, or resident in
  # their 1 KiB MFT record), plus 256 MiB of large files and room to spare.
  size_mib=${NTFS_BENCH_SIZE_MIB:-$(( files * 12 / 1024 + 768 ))}
  (( size_mib < 2048 )) && size_mib=2048
  image="$work/ntfs.img"
  echo "ntfs-bench: generating a ${size_mib} MiB NTFS volume with $files small files in $work" >&2
  gen_start=$(date +%s.%N)
  truncate -s "${size_mib}M" "$image"
  mkntfs -q -F -Q -T -L BENCH -c 4096 "$image" >"$work/mkntfs.log" 2>&1 \
    || { cat "$work/mkntfs.log" >&2; die "mkntfs failed"; }
  mnt="$work/mnt"
  mkdir "$mnt"
  loopdev=$(losetup --find --show -- "$image")
  ntfs-3g -o noatime,big_writes "$loopdev" "$mnt"
  # One python process writes everything: 10 x 10 leaf folders, FILES small
  # files spread over them (200 B .. 4 KiB of deterministic content), 4 large
  # files of 64 MiB (seeded pseudo-random bytes), then deletes every 331st
  # small file and one whole folder of them so deleted entries exist.
  python3 - "$mnt" "$files" >"$work/gen.log" <<'PY'
import os, random, sys
mnt, files = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240601)
pool = rng.randbytes(1 << 20)
leaves = [f"dir{a:02d}/sub{b:02d}" for a in range(10) for b in range(10)]
for leaf in leaves:
    os.makedirs(os.path.join(mnt, leaf))
os.makedirs(os.path.join(mnt, "big"))
os.makedirs(os.path.join(mnt, "gone"))
names = []
for i in range(files):
    leaf = leaves[i % len(leaves)]
    name = f"{leaf}/file{i:06d}.{('txt', 'dat', 'log', 'bin')[i % 4]}"
    size = 200 + (i * 7919) % 3897
    off = (i * 104729) % (len(pool) - size)
    with open(os.path.join(mnt, name), "wb") as f:
        f.write(f"{name} #{i}\n".encode() + pool[off:off + size])
    names.append(name)
for n in range(4):
    with open(os.path.join(mnt, f"big/large{n}.bin"), "wb") as f:
        r = random.Random(n)
        for _ in range(16):
            f.write(r.randbytes(4 << 20))
# A folder whose files and the folder itself get deleted.
gone = min(100, max(1, files // 1000))
for i in range(gone):
    with open(os.path.join(mnt, f"gone/old{i:03d}.txt"), "wb") as f:
        f.write(f"gone/old{i:03d}.txt\n".encode() + pool[i * 977:i * 977 + 1500])
deleted = 0
for i in range(0, files, 331):
    os.unlink(os.path.join(mnt, names[i])); deleted += 1
for i in range(gone):
    os.unlink(os.path.join(mnt, f"gone/old{i:03d}.txt")); deleted += 1
os.rmdir(os.path.join(mnt, "gone"))
print(files + 4 + gone, deleted)
PY
  read -r written deleted <"$work/gen.log"
  sync
  umount "$mnt"; mnt=""
  losetup -d "$loopdev"; loopdev=""
  gen_s=$(echo "$(date +%s.%N) - $gen_start" | bc -l)
  printf 'ntfs-bench: generated in %.1f s: %d files written, %d deleted (%d live), image %s MiB apparent, %s MiB allocated\n' \
    "$gen_s" "$written" "$deleted" "$((written - deleted))" "$size_mib" "$(( $(du -k "$image" | cut -f1) / 1024 ))" >&2
  if [[ -n $keep ]]; then
    mv -f "$image" "$keep"
    image="$keep"
    echo "ntfs-bench: image kept at $keep" >&2
  fi
else
  [[ -f $image ]] || die "NTFS_BENCH_IMAGE=$image is not a file"
  [[ -z $keep ]] || echo "ntfs-bench: NTFS_BENCH_KEEP is ignored with NTFS_BENCH_IMAGE" >&2
  echo "ntfs-bench: using $image" >&2
fi
size_mb=$(( $(stat -c %s "$image") / 1048576 ))

# ---------------------------------------------------------------------------
# 2. Measurements.
# ---------------------------------------------------------------------------
# measure OUTDIR CMD...: run CMD RUNS times (OUTDIR, if not "-", is emptied and
# the deletion synced before each run, untimed); sets best_s (seconds) and
# best_kib (peak RSS), the minimum of each over the runs.
measure() {
  local outdir=$1; shift
  local i s kib
  best_s="" best_kib=""
  for ((i = 0; i < runs; i++)); do
    if [[ $outdir != - ]]; then rm -rf "$outdir"; mkdir -p "$outdir"; sync; fi
    if ! /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr"; then
      echo "ntfs-bench: failed: $*" >&2
      tail -n 20 "$work/stderr" >&2
      exit 1
    fi
    read -r s kib <"$work/time"
    if [[ -z $best_s ]] || (( $(echo "$s < $best_s" | bc -l) )); then best_s=$s; fi
    if [[ -z $best_kib ]] || (( kib < best_kib )); then best_kib=$kib; fi
  done
}
ratio() { if (( $(echo "$2 > 0" | bc -l) )); then printf '%.2f' "$(echo "$1 / $2" | bc -l)"; else echo "n/a"; fi; }
mib() { printf '%.1f' "$(echo "$1 / 1024" | bc -l)"; }
# count DIR: "FILES BYTES META_FILES META_BYTES" of the regular files under DIR;
# META counts NTFS metadata files (a path component starting with "$").
count() {
  find "$1" -type f -printf '%P\t%s\n' | awk -F '\t' '
    { n++; b += $2; if ($1 ~ /(^|\/)\$/) { mn++; mb += $2 } }
    END { printf "%d %d %d %d\n", n, b, mn, mb }'
}

cat "$image" >/dev/null   # warm the page cache
ocmd=("$cli" ls --start-sector 0 --fs ntfs --size-mb "$size_mb" "$image")
measure - "${ocmd[@]}"; ls_s=$best_s ls_kib=$best_kib
"${ocmd[@]}" >"$work/ours.ls"
measure - fls -r -p "$image"; fls_s=$best_s fls_kib=$best_kib
fls -r -p "$image" >"$work/fls.ls"

out_base="${NTFS_BENCH_OUT:-$work}"
[[ -d $out_base ]] || die "NTFS_BENCH_OUT=$out_base is not a folder"
out_base=$(mktemp -d "$out_base/ondrel-ntfs-bench-out.XXXXXX")
[[ $out_base == "$work"/* ]] || trap 'cleanup; rm -rf "$out_base"' EXIT
ours_out="$out_base/ours" peer_out="$out_base/peer"
cat "$image" >/dev/null
measure "$ours_out" "$cli" recover --start-sector 0 --fs ntfs --size-mb "$size_mb" "$image" --out "$ours_out"
rec_s=$best_s rec_kib=$best_kib
read -r ours_n ours_b ours_mn ours_mb < <(count "$ours_out")
rm -rf "$ours_out"
measure "$peer_out" tsk_recover -a "$image" "$peer_out"
tsk_s=$best_s tsk_kib=$best_kib
read -r peer_n peer_b peer_mn peer_mb < <(count "$peer_out")
rm -rf "$peer_out"

echo
echo "NTFS volume: $image ($size_mb MiB), best of $runs run(s), image in the page cache"
printf 'listed lines: ondrel-cli ls %d, fls -r -p %d\n' "$(wc -l <"$work/ours.ls")" "$(wc -l <"$work/fls.ls")"
echo "output file system: $(df --output=fstype "$out_base" | tail -n 1) ($out_base)"
printf 'recovered:    ondrel-cli recover %d files / %d bytes (of which NTFS metadata files $*: %d / %d bytes)\n' \
  "$ours_n" "$ours_b" "$ours_mn" "$ours_mb"
printf '              tsk_recover -a   %d files / %d bytes (of which NTFS metadata files $*: %d / %d bytes)\n' \
  "$peer_n" "$peer_b" "$peer_mn" "$peer_mb"
if [[ -n ${deleted:-} ]]; then
  printf '              (%d files were deleted; ondrel-cli recover includes deleted entries, tsk_recover -a does not)\n' "$deleted"
fi
echo
printf '%-38s %8s %8s %6s %7s   %9s %9s %6s %7s\n' \
  "measure" "ours s" "peer s" "ratio" "goal" "ours MiB" "peer MiB" "ratio" "goal"
printf '%-38s %8s %8s %6s %7s   %9s %9s %6s %7s\n' \
  "ls vs fls -r -p" "$ls_s" "$fls_s" "$(ratio "$ls_s" "$fls_s")" "<= 0.5" \
  "$(mib "$ls_kib")" "$(mib "$fls_kib")" "$(ratio "$ls_kib" "$fls_kib")" "< 2"
printf '%-38s %8s %8s %6s %7s   %9s %9s %6s %7s\n' \
  "recover (whole volume) vs tsk_recover" "$rec_s" "$tsk_s" "$(ratio "$rec_s" "$tsk_s")" "<= 0.7" \
  "$(mib "$rec_kib")" "$(mib "$tsk_kib")" "$(ratio "$rec_kib" "$tsk_kib")" "-"

# Warn when the two recoveries, NTFS metadata files left out, disagree by more
# than 5% in files or bytes.
if (( peer_n - peer_mn > 0 && peer_b - peer_mb > 0 )); then
  awk -v a="$((ours_n - ours_mn))" -v b="$((peer_n - peer_mn))" \
      -v c="$((ours_b - ours_mb))" -v d="$((peer_b - peer_mb))" 'BEGIN {
    if ((a - b) / b > 0.05 || (b - a) / b > 0.05 || (c - d) / d > 0.05 || (d - c) / d > 0.05)
      print "ntfs-bench: warning: the recovered file counts or byte totals (metadata files left out) differ by more than 5%" > "/dev/stderr" }'
fi
