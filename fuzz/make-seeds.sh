#!/usr/bin/env bash
# Builds the fuzzers' seed inputs with the real tools, small (a few MiB of
# mostly zeros), one folder per target, packed into fuzz/seeds.tar.xz.
# Needs mkntfs/ntfscp (ntfs-3g), mkfs.fat and mtools, mkfs.exfat (exfatprogs),
# mke2fs and debugfs, sfdisk, sgdisk, qemu-img, xorriso, faketime when present.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
s="$work/seeds"
mkdir -p "$s"/{vhd,vhd_fixed,vdi,vmdk,vmdk_descriptor,qcow2,vhdx,partitions,decoders,fs_ntfs,fs_fat16,fs_fat32,fs_exfat,fs_ext,fs_hfsplus,fs_xfs,carving,split,hfs_compressed,lvm2,lvm_thin,lvm_snapshot}
ft=()
command -v faketime >/dev/null && ft=(faketime -f '2024-03-05 12:00:00')
export TZ=UTC SOURCE_DATE_EPOCH=1709640000
printf 'hello from a seed\n' >"$work/a.txt"
head -c 5000 /dev/zero | tr '\0' 'x' >"$work/b.txt"

# File systems, each a bare volume behind the one byte the target reads first,
# cut to its first MiB (boot sector, FATs or MFT, root, first files): the
# fuzzers run many times faster on a MiB than on a whole volume.
prefix() { { printf '\0'; head -c 1048576 "$1"; } >"$2"; }
truncate -s 4M "$work/ntfs.img"
"${ft[@]}" mkntfs -q -F -Q -s 512 -c 4096 -H 2 -S 32 -p 0 -L seed "$work/ntfs.img" >/dev/null 2>&1
"${ft[@]}" ntfscp -q "$work/ntfs.img" "$work/a.txt" a.txt
"${ft[@]}" ntfscp -q "$work/ntfs.img" "$work/b.txt" b.txt
prefix "$work/ntfs.img" "$s/fs_ntfs/ntfs"
truncate -s 4M "$work/fat16.img"
mkfs.fat --invariant -F 16 -s 1 -S 512 -i 12345678 -n SEED "$work/fat16.img" >/dev/null
mmd -i "$work/fat16.img" ::/folder && mcopy -i "$work/fat16.img" "$work/a.txt" ::/folder/ && mcopy -i "$work/fat16.img" "$work/b.txt" "::/A long name.txt"
prefix "$work/fat16.img" "$s/fs_fat16/fat16"
# mtools refuses a FAT32 this small: the seed stays empty, the fuzzer fills it.
truncate -s 4M "$work/fat32.img"
mkfs.fat --invariant -F 32 -s 1 -S 512 -i 12345678 -n SEED "$work/fat32.img" >/dev/null 2>&1
prefix "$work/fat32.img" "$s/fs_fat32/fat32"
truncate -s 4M "$work/exfat.img"
mkfs.exfat -L seed "$work/exfat.img" >/dev/null 2>&1 || true
prefix "$work/exfat.img" "$s/fs_exfat/exfat"
truncate -s 4M "$work/ext.img"
mke2fs -q -F -t ext4 -b 1024 -E root_owner=0:0 -U 11111111-2222-3333-4444-555555555555 "$work/ext.img"
debugfs -w -R "write $work/a.txt a.txt" "$work/ext.img" >/dev/null 2>&1
prefix "$work/ext.img" "$s/fs_ext/ext"
# XFS v5 and v4 from a protofile (a short-form folder, a block-form folder of
# 40 names, a file and a symlink), in one allocation group of 1 KiB blocks,
# cut after the internal log, the inodes and the folders (4 MiB).
{
  printf 'boot\n0 0\nd--755 0 0\na.txt ---644 0 0 %s\nln l--777 0 0 a.txt\nmany d--755 0 0\n' "$work/a.txt"
  for i in $(seq 1 40); do printf 'name-of-some-length-%02d ---644 0 0 %s\n' "$i" "$work/a.txt"; done
  printf '$\n$\n'
} >"$work/xfs.proto"
for v in 5 4; do
  truncate -s 16M "$work/xfs$v.img"
  crc=$([ "$v" = 5 ] && echo 1 || echo 0)
  TEST_DIR=1 TEST_DEV=1 QA_CHECK_FS=1 mkfs.xfs -q -f -b size=1024 -d agcount=1 -m crc=$crc -p "$work/xfs.proto" "$work/xfs$v.img" >/dev/null 2>&1
  { printf '\0'; head -c $((4 << 20)) "$work/xfs$v.img"; } >"$s/fs_xfs/xfs-v$v"
done
mkdir -p "$work/hfs"
cp "$work/a.txt" "$work/b.txt" "$work/hfs/"
xorriso -as mkisofs -quiet -hfsplus -hfsplus-block-size 512 -o "$work/hfs.iso" "$work/hfs" 2>/dev/null || true
# The HFS+ volume itself, cut out of the hybrid ISO; then the fixtures' volumes
# (512-byte blocks, HFSX, damaged nodes), each cut to its first MiB.
if [ -s "$work/hfs.iso" ]; then
  python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import fixturelib; fixturelib.hfs_extract(sys.argv[2], sys.argv[3])' \
    "$root/tests/fixtures" "$work/hfs.iso" "$work/hfs.img" >/dev/null
  prefix "$work/hfs.img" "$s/fs_hfsplus/hfs"
fi
for f in hfs-512 hfsx hfs-damaged; do
  [ -f "$root/tests/fixtures/images/$f.img.xz" ] || continue
  xz -dc "$root/tests/fixtures/images/$f.img.xz" >"$work/$f.img"
  prefix "$work/$f.img" "$s/fs_hfsplus/$f"
done

# A disk with an MBR (two primaries, an extended with two logicals) and a GPT disk.
# Only the boot sectors of the volumes: the tables and the sweep look at no more.
truncate -s 1M "$work/mbr.raw"
printf 'label: dos\nlabel-id: 0x12345678\nstart=64, size=512, type=6\nstart=576, size=256, type=7\nstart=832, size=1000, type=5\nstart=900, size=100, type=b\n' |
  sfdisk -q "$work/mbr.raw" >/dev/null
dd if="$work/fat16.img" of="$work/mbr.raw" bs=512 seek=64 count=1 conv=notrunc status=none
dd if="$work/ntfs.img" of="$work/mbr.raw" bs=512 seek=576 count=1 conv=notrunc status=none
dd if="$work/fat32.img" of="$work/mbr.raw" bs=512 seek=1700 count=1 conv=notrunc status=none
cp "$work/mbr.raw" "$s/partitions/mbr"
truncate -s 1M "$work/gpt.raw"
sgdisk -q -U 11111111-2222-3333-4444-555555555555 -n 1:40:800 -t 1:0700 -c 1:data -n 2:801:1900 -t 2:8300 "$work/gpt.raw" >/dev/null
dd if="$work/ntfs.img" of="$work/gpt.raw" bs=512 seek=40 count=1 conv=notrunc status=none
cp "$work/gpt.raw" "$s/partitions/gpt"

# The same MBR disk in each container.
qemu-img convert -q -f raw -O vpc "$work/mbr.raw" "$s/vhd/dynamic.vhd"
qemu-img convert -q -f raw -O vpc -o subformat=fixed "$work/mbr.raw" "$s/vhd_fixed/fixed.vhd"
qemu-img convert -q -f raw -O vdi "$work/mbr.raw" "$s/vdi/disk.vdi"
qemu-img convert -q -f raw -O vmdk "$work/mbr.raw" "$s/vmdk/disk.vmdk"
qemu-img convert -q -f raw -O vmdk -o subformat=streamOptimized "$work/mbr.raw" "$s/vmdk/stream.vmdk"
qemu-img convert -q -f raw -O qcow2 -o compat=0.10,cluster_size=4096 "$work/mbr.raw" "$s/qcow2/v2.qcow2"
qemu-img convert -q -f raw -O qcow2 -o cluster_size=4096 "$work/mbr.raw" "$s/qcow2/v3.qcow2"
qemu-img convert -q -c -f raw -O qcow2 -o cluster_size=4096 "$work/mbr.raw" "$s/qcow2/deflate.qcow2"
qemu-img convert -q -c -f raw -O qcow2 -o cluster_size=4096,compression_type=zstd "$work/mbr.raw" "$s/qcow2/zstd.qcow2"
qemu-img convert -q -f raw -O qcow2 -o cluster_size=16384,extended_l2=on "$work/mbr.raw" "$s/qcow2/l2.qcow2"
qemu-img create -q -f qcow2 -b v3.qcow2 -F qcow2 "$s/qcow2/child.qcow2"
qemu-img snapshot -c snap "$s/qcow2/v3.qcow2"
# Four blocks of 1 MiB, so the child has blocks of every state.
cp "$work/mbr.raw" "$work/mbr4.raw" && truncate -s 4M "$work/mbr4.raw"
for m in 1 2 3; do printf 'block %s' $m | dd of="$work/mbr4.raw" bs=1 seek=$((m * 1048576 + 4096)) conv=notrunc status=none; done
qemu-img convert -q -f raw -O vhdx -o block_size=1M,log_size=1M "$work/mbr4.raw" "$s/vhdx/dynamic.vhdx"
qemu-img convert -q -f vhdx -O raw "$s/vhdx/dynamic.vhdx" "$work/vhdx.raw"
python3 "$root/tests/fixtures/vhdx_children.py" --parent "$s/vhdx/dynamic.vhdx" --parent-raw "$work/vhdx.raw" \
  --child "$s/vhdx/child.vhdx" --child-raw "$work/child.raw" --log "$s/vhdx/log.vhdx" --log-raw "$work/log.raw" >/dev/null
# The headers, log, metadata and table lie in the first MiBs; the rest is payload.
for f in "$s"/vhdx/*.vhdx; do truncate -s 5M "$f"; done
strings -n 1 "$s/vmdk/disk.vmdk" | sed -n '/# Disk DescriptorFile/,/ddb.adapterType/p' >"$s/vmdk_descriptor/descriptor.txt"

# Carving: the record count byte, records, then the disk: the fixture image's
# first MiB, and its file with a start signature at byte 300 behind its record.
if [ -f "$root/tests/fixtures/images/carving.img.xz" ]; then
  xz -dc "$root/tests/fixtures/images/carving.img.xz" >"$work/carving.img"
  { printf '\0'; head -c 1048576 "$work/carving.img"; } >"$s/carving/first-mib"
  { printf '\1'; cat "$root/tests/fixtures/images/carving-offset300.settings";
    dd if="$work/carving.img" bs=1M skip=6 count=1 status=none; } >"$s/carving/offset300"
fi

# Decoders: the selector byte, then the structure (see fuzz_decoders.cpp).
mft=$(python3 -c "import struct,sys; print(struct.unpack('<Q', open(sys.argv[1], 'rb').read(56)[48:56])[0])" "$work/ntfs.img")
{ printf '\x02'; dd if="$work/ntfs.img" bs=4096 skip="$mft" count=1 status=none | head -c 1024; } >"$s/decoders/mft-record"
{ printf '\x00'; printf '\x31\x08\x00\x10\x21\x10\x00\x01\x00'; } >"$s/decoders/runlist"
{ printf '\x05'; head -c 512 "$s/vhd/dynamic.vhd"; } >"$s/decoders/vhd-footer"
{ printf '\x06'; head -c 512 "$work/fat16.img"; } >"$s/decoders/fat-boot"
{ printf '\x04'; printf 'a\0b\0c\0'; } >"$s/decoders/utf16"

# Split raw: the part count (and a missing part) byte, the lengths, the content (see fuzz_split.cpp).
python3 - "$s/split" <<'PY'
import sys
d = sys.argv[1]
open(d + "/three-parts", "wb").write(bytes([2, 4, 0, 4, 0, 2, 5]) + bytes(range(256)) * 24)
open(d + "/second-missing", "wb").write(bytes([2 | 2 << 3, 2, 0, 2, 0, 2, 0]) + bytes(range(256)) * 8)
PY
# HFS+ compressed files: the attribute length, a decmpfs attribute, the resource fork.
python3 - "$s/hfs_compressed" <<'PY'
import struct, sys, zlib
d = sys.argv[1]
data = b"compressed by the system, " * 40
attr = b"fpmc" + struct.pack("<IQ", 3, len(data)) + zlib.compress(data)
open(d + "/in-attribute", "wb").write(struct.pack("<H", len(attr)) + attr)
# Method 4: a resource fork header (data at 256), the data's length, then the
# block table (count, each block's offset from the table and length) and the block.
block = zlib.compress(data)
fork = bytearray(256) + struct.pack(">I", 12 + len(block)) + struct.pack("<III", 1, 12, len(block)) + block
struct.pack_into(">I", fork, 0, 256)
attr4 = b"fpmc" + struct.pack("<IQ", 4, len(data))
open(d + "/in-resource-fork", "wb").write(struct.pack("<H", len(attr4)) + attr4 + bytes(fork))
PY

# Structure checks: the smallest intact file of each family in the structure
# fixture, behind the byte that lets the find reach the whole input (see
# fuzz_structure.cpp); a RAR 5 main header made here (no rar tool in Debian).
if [ -f "$root/tests/fixtures/images/structure.img.xz" ]; then
  xz -dc "$root/tests/fixtures/images/structure.img.xz" >"$work/structure.img"
  python3 - "$work/structure.img" "$root/tests/fixtures/images/structure.manifest" "$s" <<'PY'
import os, sys
image, manifest, seeds = open(sys.argv[1], "rb").read(), sys.argv[2], sys.argv[3]
family = {"jpg": "jpg", "png": "png", "gif": "gif", "pdf": "pdf", "bmp": "bmp", "tif": "tif", "sqlite": "sqlite",
          "7z": "7z", "gz": "gz", "mp3": "mp3", "wav": "wav", "avi": "wav", "webp": "wav", "doc": "doc", "xls": "doc",
          "msi": "doc", "mp4": "mp4", "mov": "mp4", "m4a": "mp4", "heic": "mp4", "3gp": "mp4"}
for t in ("zip", "docx", "xlsx", "pptx", "odt", "ods", "epub", "jar", "apk"):
    family[t] = "zip"
best = {}
for line in open(manifest):
    if line.startswith("#"):
        continue
    f = line.split("\t")
    if f[4] != "intact" or f[3] not in family:
        continue
    key = (family[f[3]], f[3])
    if key not in best or int(f[1]) < best[key][1]:
        best[key] = (int(f[0]), int(f[1]))
for (target, kind), (off, size) in sorted(best.items()):
    os.makedirs(f"{seeds}/structure_{target}", exist_ok=True)
    open(f"{seeds}/structure_{target}/{kind}", "wb").write(b"\0" + image[off:off + size])
os.makedirs(f"{seeds}/structure_rar", exist_ok=True)
open(f"{seeds}/structure_rar/v5-main", "wb").write(b"\0Rar!\x1a\x07\x01\x00\x33\x92\xb5\xe5\x0a\x01\x05\x06\x00\x05\x01\x01\x80\x80\x00")
PY
fi

# LVM2: the label, the metadata area and its texts of a physical volume made by pvcreate.
if [ -f "$root/tests/fixtures/images/lvm-bare.img.xz" ]; then
  xz -dc "$root/tests/fixtures/images/lvm-bare.img.xz" >"$work/lvm-bare.img"
  head -c 65536 "$work/lvm-bare.img" >"$s/lvm2/whole-disk-pv"
fi
# A thin pool's metadata as thin_restore wrote it (pool_tmeta, the first extent
# after the PV's 1 MiB data start), cut after its last written block; the
# first byte chooses the device (1).
if [ -f "$root/tests/fixtures/images/lvm-thin.img.xz" ]; then
  mkdir -p "$s/lvm_thin"
  xz -dc "$root/tests/fixtures/images/lvm-thin.img.xz" >"$work/lvm-thin.img"
  python3 - "$work/lvm-thin.img" "$s/lvm_thin/thin-restore" <<'PY'
import sys
meta = open(sys.argv[1], "rb").read()[1 << 20:5 << 20]
last = max(b for b in range(len(meta) // 4096) if meta[b * 4096:(b + 1) * 4096].strip(b"\0"))
open(sys.argv[2], "wb").write(b"\x01" + meta[:(last + 1) * 4096])
PY
fi
# A snapshot's copy-on-write store as the fixture lays it out (the LV "before",
# 16 MiB into the PV's data): the header, the first area's table and two of
# its data chunks; the first byte makes the origin 16 MiB.
if [ -f "$root/tests/fixtures/images/lvm-snap.img.xz" ]; then
  xz -dc "$root/tests/fixtures/images/lvm-snap.img.xz" >"$work/lvm-snap.img"
  { printf '\377'; tail -c +$(((17 << 20) + 1)) "$work/lvm-snap.img" | head -c 16384; } >"$s/lvm_snapshot/cow-store"
fi

# The start of the log of the volume the kernel wrote and deleted from (its
# first 384 KiB: inode, folder and buffer copies), behind the byte that makes
# the volume v5.
if [ -f "$root/tests/fixtures/images/xfs-kernel.img.xz" ]; then
  mkdir -p "$s/xfs_log"
  xz -dc "$root/tests/fixtures/images/xfs-kernel.img.xz" >"$work/xfs-kernel.img"
  logat=$(xfs_db -r -c 'sb 0' -c 'print logstart' "$work/xfs-kernel.img" | awk '{print $3}')
  { printf '\0'; tail -c +$((logat * 4096 + 1)) "$work/xfs-kernel.img" | head -c $((384 << 10)); } >"$s/xfs_log/kernel-log"
fi

tar -C "$s" --sort=name --owner=0 --group=0 --numeric-owner --mtime='2024-03-05' -cf - . | xz -9 >"$root/fuzz/seeds.tar.xz"
ls -la "$root/fuzz/seeds.tar.xz"
