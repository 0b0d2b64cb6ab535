#!/usr/bin/env bash
# Disk-image benchmarks against peer tools, on one generated disk, as ratios:
#   - a full read through each reader (raw, dynamic VHD, VDI, VMDK, qcow2 plain,
#     deflate- and zstd-compressed and as a two-level chain, VHDX, streamOptimized
#     VMDK, split raw) against `cat` of the raw disk;
#   - `ondrel-cli export` of the dynamic VHD, the qcow2 images (plain, compressed,
#     chain), the VHDX and the streamOptimized VMDK against `qemu-img convert -O raw`
#     of the same image;
#   - `ondrel-cli volumes --sweep` against reading the raw disk.
# Each figure is the best of RUNS runs with the images in the page cache.
# Usage: bench/disk-bench.sh [SIZE_MIB (default 2048)] [RUNS (default 3)]
set -euo pipefail
PROG="disk-bench"
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
size_mib=${1:-2048}
runs=${2:-3}
build="$BENCH_ROOT/build-bench"
make_work /var/tmp/ondrel-bench.XXXXXX "${BENCH_WORK:-}"

need qemu-utils qemu-img
"$BENCH_ROOT/scripts/build.sh" "$build" -DONDREL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cli="$build/src/cli/ondrel-cli"
reader="$build/bench/ondrel-bench-read"

# The disk: an MBR with two partitions, boot sectors the sweep recognises, and
# 16 MiB of data in every other 32 MiB so containers hold real blocks.
disk="$WORK/disk.raw"
echo "generating a ${size_mib} MiB disk in $WORK" >&2
truncate -s "${size_mib}M" "$disk"
half=$((size_mib / 2))
printf 'label: dos\nstart=2048, size=%dMiB, type=7\ntype=c\n' "$((half - 2))" | sfdisk -q "$disk" >/dev/null 2>&1 || true
python3 - "$disk" "$size_mib" <<'PY'
import os, random, struct, sys
path, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
# Random nibbles: incompressible enough to be real data, compressible enough
# (about 2:1) that compressed containers really store compressed clusters.
nibbles = bytes(b & 0x0F for b in rng.randbytes(1 << 20))
block = b"".join(bytes(b ^ i for b in nibbles[:16]) + nibbles[16:] for i in range(16))
with open(path, "r+b") as f:
    for start in range(32, mib, 64):
        f.seek(start << 20)
        f.write(block)
    # An NTFS boot sector at sector 2048 and a FAT32 one half way.
    ntfs = bytearray(512); ntfs[0:3] = b"\xeb\x52\x90"; ntfs[3:11] = b"NTFS    "
    struct.pack_into("<H", ntfs, 0x0B, 512); ntfs[0x0D] = 8
    struct.pack_into("<Q", ntfs, 0x28, ((mib // 2 - 2) << 11) - 1); ntfs[510:512] = b"\x55\xaa"
    f.seek(2048 * 512); f.write(ntfs)
PY
qemu-img convert -f raw -O vpc -o subformat=dynamic,force_size=on "$disk" "$WORK/disk.vhd"
qemu-img convert -f raw -O vdi "$disk" "$WORK/disk.vdi"
qemu-img convert -f raw -O vmdk -o subformat=monolithicSparse "$disk" "$WORK/disk.vmdk"
qemu-img convert -f raw -O qcow2 "$disk" "$WORK/disk.qcow2"
qemu-img convert -c -f raw -O qcow2 "$disk" "$WORK/deflate.qcow2"
qemu-img convert -c -f raw -O qcow2 -o compression_type=zstd "$disk" "$WORK/zstd.qcow2"
# A two-level chain: the base lacks the second half's data, the child holds it.
cp "$disk" "$WORK/base.raw"
dd if=/dev/zero of="$WORK/base.raw" bs=1M seek="$half" count="$((size_mib - half))" conv=notrunc status=none
qemu-img convert -f raw -O qcow2 "$WORK/base.raw" "$WORK/base.qcow2"
qemu-img convert -f raw -O qcow2 -B base.qcow2 -F qcow2 "$disk" "$WORK/chain.qcow2"
rm -f "$WORK/base.raw"
qemu-img convert -f raw -O vhdx "$disk" "$WORK/disk.vhdx"
qemu-img convert -f raw -O vmdk -o subformat=streamOptimized "$disk" "$WORK/stream.vmdk"
split -b 700M --numeric-suffixes=1 -a 3 "$disk" "$WORK/split."
images=(disk.raw disk.vhd disk.vdi disk.vmdk disk.qcow2 deflate.qcow2 zstd.qcow2 chain.qcow2 disk.vhdx stream.vmdk split.001)

# best SECONDS of RUNS runs of a command
best() {
  local b="" t0 t1 t
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  printf '%.3f' "$b"
}

cat "$WORK"/* >/dev/null   # warm the cache
cat_raw=$(best cat "$disk")
printf '%-44s %8s %8s %7s\n' "measure" "ours s" "peer s" "ratio"
for f in "${images[@]}"; do
  t=$(best "$reader" "$WORK/$f")
  printf '%-44s %8s %8s %7s\n' "read $f through its reader vs cat raw" "$t" "$cat_raw" "$(ratio "$t" "$cat_raw")"
done
mkdir -p "$WORK/out"
for f in disk.vhd disk.qcow2 deflate.qcow2 zstd.qcow2 chain.qcow2 disk.vhdx stream.vmdk; do
  ours=$(best sh -c "rm -f '$WORK/out/'*; '$cli' export '$WORK/$f' '$WORK/out'")
  # Both remove their previous output first, inside the timing, so neither pays
  # for freeing the other's blocks.
  theirs=$(best sh -c "rm -f '$WORK/out/qemu.raw'; qemu-img convert -O raw '$WORK/$f' '$WORK/out/qemu.raw'")
  cmp -s "$WORK/out/$f.img" "$disk" || die "exported image of $f differs from the raw disk"
  printf '%-44s %8s %8s %7s\n' "export $f vs qemu-img convert -O raw" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
  rm -f "$WORK/out/"*
done
sweep=$(best "$cli" volumes --sweep --no-skip "$disk")
printf '%-44s %8s %8s %7s\n' "volumes --sweep disk.raw vs cat raw" "$sweep" "$cat_raw" "$(ratio "$sweep" "$cat_raw")"
sweep_vhd=$(best "$cli" volumes --sweep --no-skip "$WORK/disk.vhd")
printf '%-44s %8s %8s %7s\n' "volumes --sweep disk.vhd vs cat raw" "$sweep_vhd" "$cat_raw" "$(ratio "$sweep_vhd" "$cat_raw")"
