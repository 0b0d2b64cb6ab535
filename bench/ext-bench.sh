#!/usr/bin/env bash
# ext4 benchmarks against The Sleuth Kit, on one generated bare ext4 volume:
#   - `ondrel-cli ls` of the whole tree against `fls -r -p`;
#   - `ondrel-cli recover` of the whole volume against `tsk_recover -a`.
# Each figure is the best of RUNS runs with the image in the page cache:
# wall-clock seconds and peak resident memory, from /usr/bin/time.
#
# Usage: bench/ext-bench.sh [FILES (default 100000)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path        the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli;
#                          this script never builds it)
#   EXT_BENCH_IMAGE=path   use this bare ext4 volume image instead of generating one (FILES is ignored)
#   EXT_BENCH_KEEP=path    keep the generated image at this path (for EXT_BENCH_IMAGE later)
#   EXT_BENCH_SIZE_MIB=n   size of the generated volume (default: from FILES, at least 2048)
#   EXT_BENCH_OUT=dir      where both recoveries write (default: the temp dir under /var/tmp);
#                          e.g. /dev/shm to time the tools rather than the output file system
# Generating needs no root: mke2fs -d fills the volume from a staged tree and debugfs deletes
# files in it; e2fsck -fn checks it. Measuring needs fls, fsstat and tsk_recover (Debian
# packages e2fsprogs, sleuthkit, time, bc).
set -euo pipefail
PROG=ext-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args EXT "$@"
need "sleuthkit python3 bc" fls fsstat tsk_recover python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"

make_work /var/tmp/ondrel-ext-bench.XXXXXX

# ---------------------------------------------------------------------------
# 1. The volume: mke2fs -t ext4 with 4 KiB blocks on a sparse file (no
#    partition table, superblock at byte 1024), a fixed UUID and directory
#    hash seed, filled by `mke2fs -d` from a tree staged in the work folder;
#    then debugfs deletes files in the image (`rm` unlinks the name, which
#    stays in the slack of the entry before it, or, first in its directory
#    block, stays with inode number 0; it frees the inode and its blocks and
#    leaves the inode's extents in place). mke2fs and debugfs run
#    on a fixed clock (E2FSPROGS_FAKE_TIME). Generating is not timed against
#    anything, so it runs at nice 19 and leaves the machine to whatever else
#    runs on it.
# ---------------------------------------------------------------------------
if [[ -z $image ]]; then
  need e2fsprogs mke2fs debugfs e2fsck
  # Small files take one 4 KiB block (a few take two) and a 256-byte inode,
  # plus 256 MiB of large files, the journal and room to spare.
  begin_generating "ext4 volume" ext4.img $(( files * 9 / 2048 + 768 ))
  stage="$WORK/stage"
  mkdir "$stage"
  # One python process stages everything: 10 x 10 leaf folders, FILES small
  # files spread over them in turn (200 B .. 4 KiB of deterministic content),
  # 4 large files of 64 MiB (seeded pseudo-random bytes) and a folder of up
  # to 100 files, all with fixed modification times; it writes the debugfs
  # commands that delete every 331st small file and that whole folder (its
  # files, then the folder), so deleted entries exist.
  nice -n 19 python3 - "$stage" "$files" "$WORK/delete.cmd" >"$WORK/gen.log" <<'PY'
import os, random, sys
stage, files, cmdfile = sys.argv[1], int(sys.argv[2]), sys.argv[3]
T = 1717236000  # 2024-06-01 10:00:00 UTC
rng = random.Random(20240601)
pool = rng.randbytes(1 << 20)
leaves = [f"dir{a:02d}/sub{b:02d}" for a in range(10) for b in range(10)]
for leaf in leaves:
    os.makedirs(os.path.join(stage, leaf))
os.makedirs(os.path.join(stage, "big"))
os.makedirs(os.path.join(stage, "gone"))
def put(name, data, t):
    p = os.path.join(stage, name)
    with open(p, "wb") as f:
        f.write(data)
    os.utime(p, (t, t))
names = []
for i in range(files):
    leaf = leaves[i % len(leaves)]
    name = f"{leaf}/file{i:06d}.{('txt', 'dat', 'log', 'bin')[i % 4]}"
    size = 200 + (i * 7919) % 3897
    off = (i * 104729) % (len(pool) - size)
    put(name, f"{name} #{i}\n".encode() + pool[off:off + size], T + i)
    names.append(name)
for n in range(4):
    p = os.path.join(stage, f"big/large{n}.bin")
    with open(p, "wb") as f:
        r = random.Random(n)
        for _ in range(16):
            f.write(r.randbytes(4 << 20))
    os.utime(p, (T, T))
gone = min(100, max(1, files // 1000))
for i in range(gone):
    name = f"gone/old{i:03d}.txt"
    put(name, f"{name}\n".encode() + pool[i * 977:i * 977 + 1500], T)
for d, _, _ in os.walk(stage):
    os.utime(d, (T, T))
deleted = 0
with open(cmdfile, "w") as cmd:
    for i in range(0, files, 331):
        cmd.write(f"rm /{names[i]}\n"); deleted += 1
    for i in range(gone):
        cmd.write(f"rm /gone/old{i:03d}.txt\n"); deleted += 1
    cmd.write("rmdir /gone\n")
print(files + 4 + gone, deleted)
PY
  read -r written deleted <"$WORK/gen.log"
  log "mke2fs -d (staged $written files)"
  # Enough inodes for every file and folder whatever the volume size.
  run_quiet "$WORK/mke2fs.log" env E2FSPROGS_FAKE_TIME=1717236000 nice -n 19 \
    mke2fs -q -F -t ext4 -b 4096 -L BENCH -N $(( files + files / 4 + 1024 )) \
    -U 4f6e6472-656c-4265-6e63-680000000004 \
    -E hash_seed=4f6e6472-656c-4265-6e63-680000000005,root_owner=0:0,lazy_itable_init=0,lazy_journal_init=0 \
    -d "$stage" "$image"
  rm -rf "$stage"
  log "debugfs: $(grep -c . "$WORK/delete.cmd") rm / rmdir commands"
  env E2FSPROGS_FAKE_TIME=1717322400 nice -n 19 debugfs -w -f "$WORK/delete.cmd" "$image" >"$WORK/debugfs.log" 2>&1 \
    || { tail -n 20 "$WORK/debugfs.log" >&2; die "debugfs failed"; }
  # debugfs echoes each command ("debugfs: rm ...") and prints a blank line
  # per freed inode; anything else is an error message.
  if grep -v -e '^debugfs [0-9]' -e '^debugfs: ' -e '^$' "$WORK/debugfs.log" | grep -q .; then
    grep -v -e '^debugfs [0-9]' -e '^debugfs: ' -e '^$' "$WORK/debugfs.log" | head -n 20 >&2
    die "debugfs reported errors while deleting"
  fi
  # e2fsck -fn only reads; it fails on any inconsistency in the volume.
  nice -n 19 e2fsck -fn "$image" >"$WORK/e2fsck.log" 2>&1 || { tail -n 20 "$WORK/e2fsck.log" >&2; die "e2fsck found errors in the generated volume"; }
  end_generating
else
  given_image
fi
size_mb=$(( $(stat -c %s "$image") / 1048576 ))
# fsstat checks that the image is an ext4 volume starting at sector 0.
fsstat "$image" >"$WORK/fsstat" 2>&1 || { head -n 5 "$WORK/fsstat" >&2; die "fsstat cannot read $image"; }
grep -q '^File System Type: Ext4' "$WORK/fsstat" || die "$image is not a bare ext4 volume (fsstat: $(grep -m1 '^File System Type' "$WORK/fsstat" || echo '?'))"

# ---------------------------------------------------------------------------
# 2. Measurements.
# ---------------------------------------------------------------------------
time_listings ext4
time_recoveries ext4

echo
echo "ext4 volume: $image ($size_mb MiB), best of $runs run(s), image in the page cache"
printf "listed lines: ondrel-cli ls %d, fls -r -p %d (%d of them deleted, \"*\"; %d under \$OrphanFiles)\n" \
  "$(wc -l <"$WORK/ours.ls")" "$(wc -l <"$WORK/fls.ls")" \
  "$(grep -c ' \* ' "$WORK/fls.ls" || true)" "$(grep -c -F "\$OrphanFiles/" "$WORK/fls.ls" || true)"
print_recovered '$* virtual files'
print_table
warn_if_apart '$* virtual files'
# The listings too should agree within 5% (fls adds its $OrphanFiles).
lines_apart() { # lines_apart WHAT LISTING
  awk -v a="$(wc -l <"$2")" -v b="$(wc -l <"$WORK/fls.ls")" -v prog="$PROG" -v what="$1" 'BEGIN {
    if (b > 0 && ((a - b) / b > 0.05 || (b - a) / b > 0.05))
      print prog ": warning: " what " and fls -r -p list numbers of lines more than 5% apart" > "/dev/stderr" }'
}
lines_apart "ondrel-cli ls" "$WORK/ours.ls"
