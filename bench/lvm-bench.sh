#!/usr/bin/env bash
# LVM2 benchmark: listing an ext4 of FILES files inside a logical volume
# against listing the same file system bare, as a ratio (the cost of
# discovery and of the extent mapping; the goal is at most 1.05).
#   - bare: `ondrel-cli ls --start-sector 0 --fs ext4` of the ext4 image;
#   - in LVM2: the same bytes written into the logical volume "root" of a
#     physical volume made by pvcreate over the whole disk (4 MiB extents),
#     in two segments with another LV between them (lvcreate, then lvextend),
#     at the places `lvs --segments` states; `ondrel-cli ls --volume N`.
# The two listings must be the same. Each figure is the best of RUNS runs with
# the images in the page cache.
#
# Usage: bench/lvm-bench.sh [FILES (default 100000)] [RUNS (default 3)]  (root: loop devices)
# Environment:
#   ONDREL_CLI=path        the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli)
#   LVM_BENCH_IMAGE=path   a bare ext4 image to use instead of generating one (FILES is ignored)
# Needs lvm2, e2fsprogs, python3, bc and /usr/bin/time (package time).
set -euo pipefail
PROG=lvm-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args LVM "$@"
need "lvm2 e2fsprogs python3 bc" pvcreate vgcreate lvcreate lvextend lvs mke2fs python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"
[[ ${EUID:-$(id -u)} -eq 0 ]] || die "must run as root (needs loop devices)"
make_work /var/tmp/ondrel-lvm-bench.XXXXXX

if [[ -z $image ]]; then
  image=$WORK/ext4.img
  log "staging $files files"
  nice -n 19 python3 - "$WORK/stage" "$files" <<'PY'
import os, random, sys
stage, files = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
pool = rng.randbytes(1 << 20)
for i in range(files):
    d = os.path.join(stage, f"dir{i % 100:02d}")
    os.makedirs(d, exist_ok=True)
    size = 100 + (i * 7919) % 3000
    off = (i * 104729) % (len(pool) - size)
    p = os.path.join(d, f"file{i:06d}.txt")
    with open(p, "wb") as f:
        f.write(pool[off:off + size])
    os.utime(p, (1717236000 + i, 1717236000 + i))
PY
  size_mib=$(( files * 6 / 1024 + 256 ))
  log "mke2fs -t ext4 -d, ${size_mib} MiB"
  E2FSPROGS_FAKE_TIME=1717236000 nice -n 19 mke2fs -q -F -t ext4 -N $(( files + 1024 )) -E root_owner=0:0 -d "$WORK/stage" "$image" "${size_mib}M"
  rm -rf "$WORK/stage"
else
  given_image
fi
fs_bytes=$(stat -c %s "$image")
fs_mib=$(( (fs_bytes + (1 << 20) - 1) >> 20 ))
lv_mib=$(( (fs_mib + 3) / 4 * 4 ))

# The LVM2 disk: PV over the whole disk, root in two segments around "gap".
export LVM_SYSTEM_DIR=$WORK/lvm LVM_SUPPRESS_FD_WARNINGS=1
mkdir -p "$LVM_SYSTEM_DIR"
cat >"$LVM_SYSTEM_DIR/lvm.conf" <<EOC
devices { filter = [ "a|^/dev/loop|", "r|.*|" ] obtain_device_list_from_udev = 0 scan_lvs = 0 }
backup { backup = 0 archive = 0 }
activation { udev_sync = 0 udev_rules = 0 }
global { locking_dir = "$WORK/lvm/lock" }
EOC
disk=$WORK/lvm-disk.img
truncate -s $(( (lv_mib + 16) << 20 )) "$disk"
attach_loop "$disk"
q() { "$@" >>"$WORK/lvm.log" 2>&1 || { tail -n 20 "$WORK/lvm.log" >&2; die "$1 failed"; }; }
q pvcreate -y --norestorefile "$LOOPDEV"
q vgcreate -s 4M vgbench "$LOOPDEV"
q lvcreate --driverloaded n -an -Zn -y -L $(( lv_mib / 8 * 4 ))M -n root vgbench
q lvcreate --driverloaded n -an -Zn -y -L 4M -n gap vgbench
q lvextend --driverloaded n -L "${lv_mib}M" vgbench/root
lvs -a --segments --units b --nosuffix --reportformat json \
  -o lv_name,seg_start_pe,seg_size_pe,segtype,stripes,stripe_size,devices vgbench >"$WORK/segs.json"
pieces=$(python3 "$BENCH_ROOT/tests/fixtures/lvmap.py" "$WORK/segs.json" $((4 << 20)) root 0 \
  "$LOOPDEV=0:0:$(pvs --noheadings --units b --nosuffix -o pe_start "$LOOPDEV" | tr -d ' ')")
detach_loop "$LOOPDEV"
done_bytes=0
IFS=, read -ra list <<<"$pieces"
for p in "${list[@]}"; do
  p=${p#*:}
  off=${p%+*} len=${p#*+}
  (( done_bytes >= fs_bytes )) && break
  (( len > fs_bytes - done_bytes )) && len=$(( fs_bytes - done_bytes ))
  dd if="$image" of="$disk" bs=1M iflag=skip_bytes,count_bytes oflag=seek_bytes skip="$done_bytes" seek="$off" \
    count="$len" conv=notrunc,sparse status=none
  done_bytes=$(( done_bytes + len ))
done
log "root lies in ${#list[@]} pieces: $pieces"
volume=$("$cli" volumes --json "$disk" | python3 -c '
import json, sys
print(next(v["volume"] for v in json.load(sys.stdin) if v["name"] == "vgbench/root"))')

cat "$image" "$disk" >/dev/null
bare=("$cli" ls --start-sector 0 --fs ext4 --size-mb "$fs_mib" "$image")
inlv=("$cli" ls --volume "$volume" "$disk")
measure - "${bare[@]}"; bare_s=$best_s bare_kib=$best_kib
measure - "${inlv[@]}"; lv_s=$best_s lv_kib=$best_kib
measure - "$cli" volumes "$disk"; vol_s=$best_s vol_kib=$best_kib
"${bare[@]}" >"$WORK/bare.ls"
"${inlv[@]}" >"$WORK/lv.ls"
cmp -s "$WORK/bare.ls" "$WORK/lv.ls" || die "the listings differ (see $WORK/bare.ls and $WORK/lv.ls; KEEP_WORK=1 keeps them)"
echo
echo "ext4 of $(wc -l <"$WORK/bare.ls") entries, $fs_mib MiB; LV root in ${#list[@]} pieces"
table_row "measure" "ours s" "peer s" "ratio" "goal" "ours MiB" "peer MiB" "ratio" "goal"
compare_row "ls in an LV vs ls of the bare volume" "$lv_s" "$bare_s" "<= 1.05" "$lv_kib" "$bare_kib" "<= 1.05"
printf 'volumes (discovery of the LVM2 disk): %s s, %s MiB\n' "$vol_s" "$(mib "$vol_kib")"
