#!/usr/bin/env bash
# exFAT benchmarks against The Sleuth Kit, on one generated bare exFAT volume:
#   - `ondrel-cli ls` of the whole tree against `fls -r -p`;
#   - `ondrel-cli recover` of the whole volume against `tsk_recover -a`;
#   - the advanced-mode listing (FAT and heap starts found by a sweep of the
#     volume, then a sweep of every 32-byte slot for entry sets, and the tree)
#     against reading the raw image with `cat`.
# Each figure is the best of RUNS runs with the image in the page cache:
# wall-clock seconds and peak resident memory, from /usr/bin/time.
#
# Usage: bench/exfat-bench.sh [FILES (default 100000)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path          the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli;
#                            this script never builds it)
#   EXFAT_BENCH_IMAGE=path   use this bare exFAT volume image instead of generating one (FILES is ignored)
#   EXFAT_BENCH_KEEP=path    keep the generated image at this path (for EXFAT_BENCH_IMAGE later)
#   EXFAT_BENCH_SIZE_MIB=n   size of the generated volume (default: from FILES, at least 2048)
#   EXFAT_BENCH_OUT=dir      where both recoveries write (default: the temp dir under /var/tmp);
#                            e.g. /dev/shm to time the tools rather than the output file system
# Generating needs root, a loop device, FUSE, mkfs.exfat, tune.exfat, fsck.exfat and
# mount.exfat-fuse; measuring needs fls, fsstat and tsk_recover (Debian packages exfatprogs,
# exfat-fuse, sleuthkit, time, bc).
set -euo pipefail
PROG=exfat-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args EXFAT "$@"
need "sleuthkit python3 bc" fls fsstat tsk_recover python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"

make_work /var/tmp/ondrel-exfat-bench.XXXXXX

# ---------------------------------------------------------------------------
# 1. The volume: mkfs.exfat with 4 KiB clusters on a sparse file (no
#    partition table, boot sector at sector 0), a fixed serial from
#    tune.exfat, filled through exfat-fuse. mount.exfat-fuse, run as root,
#    wants a block device, so the image goes through a loop device (which
#    also makes umount wait until everything is written). Generating is not
#    timed against anything, so the writer and the FUSE driver run at nice 19
#    and leave the machine to whatever else runs on it.
# ---------------------------------------------------------------------------
if [[ -z $image ]]; then
  [[ ${EUID:-$(id -u)} -eq 0 ]] || die "generating the image needs root (loop device + FUSE); or set EXFAT_BENCH_IMAGE"
  [[ -c /dev/fuse ]] || die "/dev/fuse is missing (FUSE is needed for exfat-fuse); or set EXFAT_BENCH_IMAGE"
  need "exfatprogs exfat-fuse util-linux" mkfs.exfat tune.exfat fsck.exfat mount.exfat-fuse losetup mountpoint
  # Small files take one 4 KiB cluster (a few take two), plus 256 MiB of
  # large files, the FAT, the bitmap, the folders and room to spare.
  begin_generating "exFAT volume" exfat.img $(( files * 9 / 2048 + 768 ))
  run_quiet "$WORK/mkfs.log" mkfs.exfat -c 4096 -L BENCH "$image"
  run_quiet "$WORK/tune.log" tune.exfat -I 0x4f4e4258 "$image"
  mnt="$WORK/mnt"
  mkdir "$mnt"
  loop_mount "$image" "$mnt" nice -n 19 mount.exfat-fuse -o noatime
  log "filling the volume through exfat-fuse ($LOOPDEV)"
  # One python process writes everything: 10 x 10 leaf folders with long
  # names, FILES small files spread over them in turn (200 B .. 4 KiB of
  # deterministic content, names of 31 characters, i.e. three name entries
  # per entry set), so the folders grow cluster by cluster between the files'
  # clusters, 4 large files of 64 MiB (seeded pseudo-random bytes), then it
  # deletes every 331st small file and one whole folder of them so deleted
  # entries exist.
  nice -n 19 python3 - "$mnt" "$files" >"$WORK/gen.log" <<'PY'
import os, random, sys
mnt, files = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240601)
pool = rng.randbytes(1 << 20)
tops = [f"Folder {a:02d} of the bench" for a in range(10)]
leaves = [f"{top}/Subfolder {b:02d} with a long name" for top in tops for b in range(10)]
for d in tops + leaves + ["Large files", "Gone folder"]:
    os.mkdir(os.path.join(mnt, d))
names = []
for i in range(files):
    leaf = leaves[i % len(leaves)]
    name = f"{leaf}/Bench file {i:06d} long name.{('txt', 'dat', 'log', 'bin')[i % 4]}"
    size = 200 + (i * 7919) % 3897
    off = (i * 104729) % (len(pool) - size)
    with open(os.path.join(mnt, name), "wb") as f:
        f.write(f"{name} #{i}\n".encode() + pool[off:off + size])
    names.append(name)
for n in range(4):
    with open(os.path.join(mnt, f"Large files/Large file {n}.bin"), "wb") as f:
        r = random.Random(n)
        for _ in range(16):
            f.write(r.randbytes(4 << 20))
# A folder whose files and the folder itself get deleted.
gone = min(100, max(1, files // 1000))
for i in range(gone):
    name = f"Gone folder/Old file {i:03d}.txt"
    with open(os.path.join(mnt, name), "wb") as f:
        f.write(f"{name}\n".encode() + pool[i * 977:i * 977 + 1500])
deleted = 0
for i in range(0, files, 331):
    os.unlink(os.path.join(mnt, names[i])); deleted += 1
for i in range(gone):
    os.unlink(os.path.join(mnt, f"Gone folder/Old file {i:03d}.txt")); deleted += 1
os.rmdir(os.path.join(mnt, "Gone folder"))
print(files + 4 + gone, deleted)
PY
  read -r written deleted <"$WORK/gen.log"
  sync
  loop_umount "$mnt" "$LOOPDEV"
  # fsck.exfat -n only reads; it fails on any inconsistency in what was written.
  fsck.exfat -n "$image" >"$WORK/fsck.log" 2>&1 || { tail -n 20 "$WORK/fsck.log" >&2; die "fsck.exfat found errors in the generated volume"; }
  end_generating
else
  given_image
fi
size_mb=$(( $(stat -c %s "$image") / 1048576 ))
# Sectors per cluster, for the advanced mode, from fsstat (which also checks
# that the image is an exFAT volume starting at sector 0).
fsstat "$image" >"$WORK/fsstat" 2>&1 || { head -n 5 "$WORK/fsstat" >&2; die "fsstat cannot read $image"; }
grep -q '^File System Type: exFAT' "$WORK/fsstat" || die "$image is not a bare exFAT volume (fsstat: $(grep -m1 '^File System Type' "$WORK/fsstat"))"
spc=$(awk '/^Sector Size:/ { ss = $3 } /^Cluster Size:/ { cs = $3 } END { if (ss > 0) print cs / ss }' "$WORK/fsstat")
[[ $spc =~ ^[0-9]+$ && $spc -ge 1 ]] || die "no sector or cluster size in the fsstat output"

# ---------------------------------------------------------------------------
# 2. Measurements.
# ---------------------------------------------------------------------------
time_listings exfat
acmd=("$cli" ls --start-sector 0 --fs exfat --size-mb "$size_mb" --mode advanced
      --fat-entry 0 --heap-entry 0 --sectors-per-cluster "$spc" "$image")
measure - "${acmd[@]}"; adv_s=$best_s adv_kib=$best_kib
"${acmd[@]}" >"$WORK/ours-advanced.ls"
measure - cat "$image"; cat_s=$best_s cat_kib=$best_kib
time_recoveries exfat

echo
echo "exFAT volume: $image ($size_mb MiB, $spc sectors per cluster), best of $runs run(s), image in the page cache"
printf 'listed lines: ondrel-cli ls %d, ondrel-cli ls --mode advanced %d, fls -r -p %d (%d of them deleted, "*")\n' \
  "$(wc -l <"$WORK/ours.ls")" "$(wc -l <"$WORK/ours-advanced.ls")" "$(wc -l <"$WORK/fls.ls")" \
  "$(grep -c ' \* ' "$WORK/fls.ls" || true)"
print_recovered '$* virtual files'
print_table
table_row "ls --mode advanced vs cat (raw read)" "$adv_s" "$cat_s" "$(ratio "$adv_s" "$cat_s")" "<= 2" \
  "$(mib "$adv_kib")" "$(mib "$cat_kib")" "-" "-"
warn_if_apart '$* virtual files'
# The listings too should agree within 5% (fls adds its few virtual entries).
lines_apart() { # lines_apart WHAT LISTING
  awk -v a="$(wc -l <"$2")" -v b="$(wc -l <"$WORK/fls.ls")" -v prog="$PROG" -v what="$1" 'BEGIN {
    if (b > 0 && ((a - b) / b > 0.05 || (b - a) / b > 0.05))
      print prog ": warning: " what " and fls -r -p list numbers of lines more than 5% apart" > "/dev/stderr" }'
}
lines_apart "ondrel-cli ls" "$WORK/ours.ls"
lines_apart "ondrel-cli ls --mode advanced" "$WORK/ours-advanced.ls"
