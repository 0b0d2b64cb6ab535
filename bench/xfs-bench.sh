#!/usr/bin/env bash
# XFS benchmark. No peer here lists XFS files (The Sleuth Kit 4.11 has no XFS),
# so the same FILES files are put in an XFS (mkfs.xfs -p, a protofile) and in
# an ext4 (mke2fs -d), and Ondrel's XFS figures are given against its own ext4
# ones (goal: listing at most 1.5 times the ext4 listing) and against reading
# the whole volume with cat:
#   - ls:      `ondrel-cli ls --start-sector 0 --fs xfs|ext4`;
#   - recover: `ondrel-cli recover` of the whole volume into a fresh folder;
#   - ls --mode advanced: the XFS listing with its log walked too;
#   - cat:     `cat VOLUME > /dev/null`, the page cache warm.
# The two listings must name the same files. Each figure is the best of RUNS runs.
#
# Usage: bench/xfs-bench.sh [FILES (default 100000)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path   the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli)
#   XFS_BENCH_OUT=dir where the recoveries write (default the work folder)
# Needs xfsprogs, e2fsprogs, python3, bc and /usr/bin/time (package time).
set -euo pipefail
PROG=xfs-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args XFS "$@"
need "xfsprogs e2fsprogs python3 bc" mkfs.xfs mke2fs python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"
make_work /var/tmp/ondrel-xfs-bench.XXXXXX

log "staging $files files"
nice -n 19 python3 - "$WORK/stage" "$files" "$WORK/xfs.proto" <<'PY'
import os, random, sys
stage, files, proto = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = random.Random(7)
pool = rng.randbytes(1 << 20)
lines = ["boot", "0 0", "d--755 0 0"]
dirs = {}
for i in range(files):
    d = f"dir{i % 100:02d}"
    os.makedirs(os.path.join(stage, d), exist_ok=True)
    size = 100 + (i * 7919) % 3000
    off = (i * 104729) % (len(pool) - size)
    p = os.path.join(stage, d, f"file{i:06d}.txt")
    with open(p, "wb") as f:
        f.write(pool[off:off + size])
    os.utime(p, (1717236000 + i, 1717236000 + i))
    dirs.setdefault(d, []).append(p)
for d in sorted(dirs):
    lines.append(f" {d} d--755 0 0")
    lines += [f"  {os.path.basename(p)} ---644 0 0 {p}" for p in dirs[d]]
    lines.append(" $")
lines.append("$")
open(proto, "w").write("\n".join(lines) + "\n")
PY
size_mib=$(( files * 6 / 1024 + 256 ))
log "mkfs.xfs -p and mke2fs -t ext4 -d, ${size_mib} MiB each"
truncate -s "${size_mib}M" "$WORK/xfs.img"
nice -n 19 mkfs.xfs -q -f -p "$WORK/xfs.proto" "$WORK/xfs.img"
E2FSPROGS_FAKE_TIME=1717236000 nice -n 19 mke2fs -q -F -t ext4 -N $(( files + 1024 )) -E root_owner=0:0 -d "$WORK/stage" \
  "$WORK/ext4.img" "${size_mib}M"
rm -rf "$WORK/stage"

out_base=${XFS_BENCH_OUT:-$WORK}
[[ -d $out_base ]] || die "XFS_BENCH_OUT=$out_base is not a folder"
for fs in xfs ext4; do
  img=$WORK/$fs.img
  cat "$img" >/dev/null
  measure - "$cli" ls --start-sector 0 --fs "$fs" --size-mb "$size_mib" "$img"
  printf -v "ls_${fs}_s" '%s' "$best_s"; printf -v "ls_${fs}_kib" '%s' "$best_kib"
  "$cli" ls --start-sector 0 --fs "$fs" --size-mb "$size_mib" "$img" | cut -f1,2,3 | grep -v '^/lost+found' | sort >"$WORK/$fs.ls"
  measure "$out_base/out-$fs" "$cli" recover --start-sector 0 --fs "$fs" --size-mb "$size_mib" "$img" --out "$out_base/out-$fs"
  printf -v "rec_${fs}_s" '%s' "$best_s"; printf -v "rec_${fs}_kib" '%s' "$best_kib"
  rm -rf "$out_base/out-$fs"
  measure - cat "$img"
  printf -v "cat_${fs}_s" '%s' "$best_s"
done
# The advanced mode reads the whole log besides (copies of inodes and folders).
measure - "$cli" ls --start-sector 0 --fs xfs --mode advanced --size-mb "$size_mib" "$WORK/xfs.img"
adv_s=$best_s adv_kib=$best_kib
cmp -s "$WORK/xfs.ls" "$WORK/ext4.ls" || die "the two listings differ (see $WORK/xfs.ls and $WORK/ext4.ls; KEEP_WORK=1 keeps them)"

echo
echo "$(wc -l <"$WORK/xfs.ls") entries in each volume of $size_mib MiB"
table_row "measure" "xfs s" "ext4 s" "ratio" "goal" "xfs MiB" "ext4 MiB" "ratio" "goal"
compare_row "ls, XFS vs the same files in ext4" "$ls_xfs_s" "$ls_ext4_s" "<= 1.5" "$ls_xfs_kib" "$ls_ext4_kib" "-"
compare_row "recover, XFS vs ext4" "$rec_xfs_s" "$rec_ext4_s" "-" "$rec_xfs_kib" "$rec_ext4_kib" "-"
compare_row "ls --mode advanced vs ls, XFS" "$adv_s" "$ls_xfs_s" "-" "$adv_kib" "$ls_xfs_kib" "-"
printf 'cat of the XFS volume: %s s (ls %s times that, recover %s times)\n' "$cat_xfs_s" \
  "$(ratio "$ls_xfs_s" "$cat_xfs_s")" "$(ratio "$rec_xfs_s" "$cat_xfs_s")"
