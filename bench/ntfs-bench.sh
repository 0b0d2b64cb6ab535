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
PROG=ntfs-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args NTFS "$@"
need "sleuthkit python3" fls tsk_recover python3
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"

make_work /var/tmp/ondrel-ntfs-bench.XXXXXX

# ---------------------------------------------------------------------------
# 1. The volume: mkntfs on a sparse file, filled through ntfs-3g (via a loop
#    device, so that umount waits until everything is written).
# ---------------------------------------------------------------------------
if [[ -z $image ]]; then
  [[ ${EUID:-$(id -u)} -eq 0 ]] || die "generating the image needs root (loop device + FUSE); or set NTFS_BENCH_IMAGE"
  need "ntfs-3g util-linux" mkntfs ntfs-3g losetup mountpoint
  # Small files average ~2.3 KiB (one or two 4 KiB clusters, or resident in
  # their 1 KiB MFT record), plus 256 MiB of large files and room to spare.
  begin_generating "NTFS volume" ntfs.img $(( files * 12 / 1024 + 768 ))
  run_quiet "$WORK/mkntfs.log" mkntfs -q -F -Q -T -L BENCH -c 4096 "$image"
  mnt="$WORK/mnt"
  mkdir "$mnt"
  loop_mount "$image" "$mnt" ntfs-3g -o noatime,big_writes
  # One python process writes everything: 10 x 10 leaf folders, FILES small
  # files spread over them (200 B .. 4 KiB of deterministic content), 4 large
  # files of 64 MiB (seeded pseudo-random bytes), then deletes every 331st
  # small file and one whole folder of them so deleted entries exist.
  python3 - "$mnt" "$files" >"$WORK/gen.log" <<'PY'
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
  read -r written deleted <"$WORK/gen.log"
  sync
  loop_umount "$mnt" "$LOOPDEV"
  end_generating
else
  given_image
fi
size_mb=$(( $(stat -c %s "$image") / 1048576 ))

# ---------------------------------------------------------------------------
# 2. Measurements.
# ---------------------------------------------------------------------------
time_listings ntfs
time_recoveries ntfs

echo
echo "NTFS volume: $image ($size_mb MiB), best of $runs run(s), image in the page cache"
printf 'listed lines: ondrel-cli ls %d, fls -r -p %d\n' "$(wc -l <"$WORK/ours.ls")" "$(wc -l <"$WORK/fls.ls")"
print_recovered 'NTFS metadata files $*'
print_table
warn_if_apart "metadata files"
