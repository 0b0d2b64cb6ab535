#!/usr/bin/env bash
# FAT32 benchmarks against The Sleuth Kit, on one generated bare FAT32 volume:
#   - `ondrel-cli ls` of the whole tree against `fls -r -p`;
#   - `ondrel-cli recover` of the whole volume against `tsk_recover -a`;
#   - the advanced-mode listing (FAT copies found by a sweep of the volume)
#     against reading the raw image with `cat`.
# Each figure is the best of RUNS runs with the image in the page cache:
# wall-clock seconds and peak resident memory, from /usr/bin/time.
#
# Usage: bench/fat-bench.sh [FILES (default 100000)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path        the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli;
#                          this script never builds it)
#   FAT_BENCH_IMAGE=path   use this bare FAT32 volume image instead of generating one (FILES is ignored)
#   FAT_BENCH_KEEP=path    keep the generated image at this path (for FAT_BENCH_IMAGE later)
#   FAT_BENCH_SIZE_MIB=n   size of the generated volume (default: from FILES, at least 2048)
#   FAT_BENCH_WRITER=w     how the generated volume is filled: kernel (vfat on a loop device, needs
#                          root), image (python writes the FAT32 structures into the image file
#                          itself) or auto (default: kernel if the vfat mount works, else image)
#   FAT_BENCH_OUT=dir      where both recoveries write (default: the temp dir under /var/tmp);
#                          e.g. /dev/shm to time the tools rather than the output file system
# Generating needs mkfs.fat and fsck.fat (and, for the kernel writer, root, a loop device and the
# vfat driver); measuring needs fls, fsstat and tsk_recover (Debian packages dosfstools,
# sleuthkit, time, bc).
set -euo pipefail
PROG=fat-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
bench_args FAT "$@"
need "sleuthkit python3 bc" fls fsstat tsk_recover python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"

make_work /var/tmp/ondrel-fat-bench.XXXXXX
mnt=""

# ---------------------------------------------------------------------------
# 1. The volume: mkfs.fat -F 32 on a sparse file (no partition table, boot
#    sector at sector 0), then filled by one python process, either through
#    the kernel's vfat driver on a loop device (umount writes everything back
#    before it returns) or, where the kernel has no vfat driver, by writing
#    the directory entries, FATs and file data straight into the image.
# ---------------------------------------------------------------------------
if [[ -z $image ]]; then
  writer=${FAT_BENCH_WRITER:-auto}
  [[ $writer == auto || $writer == kernel || $writer == image ]] || die "FAT_BENCH_WRITER must be auto, kernel or image"
  need dosfstools mkfs.fat fsck.fat
  # Every small file takes one 4 KiB cluster; plus 256 MiB of large files,
  # the FATs, the folders and room to spare.
  begin_generating "FAT32 volume" fat32.img $(( files * 9 / 2048 + 768 ))
  run_quiet "$WORK/mkfs.log" mkfs.fat -F 32 -S 512 -s 8 -n BENCH "$image"
  target="$image"
  if [[ $writer != image ]]; then
    if [[ ${EUID:-$(id -u)} -ne 0 ]]; then
      [[ $writer == kernel ]] && die "FAT_BENCH_WRITER=kernel needs root (loop device + mount)"
    else
      need util-linux losetup mount mountpoint
      mkdir "$WORK/mnt"
      if loop_mount "$image" "$WORK/mnt" mount -t vfat -o noatime,utf8,shortname=mixed 2>"$WORK/mount.log"; then
        mnt="$WORK/mnt" target="$WORK/mnt"
      else
        [[ $writer == kernel ]] && { cat "$WORK/mount.log" >&2; die "mounting through the kernel's vfat driver failed"; }
        detach_loop "$LOOPDEV"
      fi
    fi
  fi
  if [[ $target == "$image" ]]; then
    log "no vfat mount here; writing the FAT32 structures straight into the image"
  else
    log "filling the volume through the kernel's vfat driver ($LOOPDEV)"
  fi
  # The same files either way: 10 x 10 leaf folders with long names, FILES
  # small files spread over them in turn (200 B .. 4 KiB of deterministic
  # content, long names that need LFN entries), 4 large files of 64 MiB
  # (seeded pseudo-random bytes), then every 331st small file and one whole
  # folder of them are deleted so deleted entries exist.
  python3 - "$target" "$files" >"$WORK/gen.log" <<'PY'
import array, os, random, struct, sys

class MountWriter:
    """Through a mounted file system."""
    def __init__(self, mnt): self.mnt = mnt
    def mkdir(self, path): os.mkdir(os.path.join(self.mnt, path))
    def write(self, path, data):
        with open(os.path.join(self.mnt, path), "wb") as f: f.write(data)
    def unlink(self, path): os.unlink(os.path.join(self.mnt, path))
    def rmdir(self, path): os.rmdir(os.path.join(self.mnt, path))
    def close(self): pass

class Folder:
    def __init__(self, clusters, data, first):
        self.clusters, self.data, self.first = clusters, data, first
        self.entries = {}     # name -> (offset of its first slot, slots, first cluster)
        self.short = set()    # 8.3 names in use
        self.tails = {}       # (base, ext) -> last numeric tail

DATE = ((2024 - 1980) << 9) | (6 << 5) | 1   # 2024-06-01
TIME = 12 << 11                              # 12:00:00
EOC = 0x0FFFFFFF

class ImageWriter:
    """Straight into a freshly made FAT32 image: clusters are handed out in
    order as files and folders are written (folders grow one cluster at a
    time, so their chains are fragmented), deleting marks the entries 0xE5
    and frees the chains while keeping the start clusters in the entries."""
    def __init__(self, image):
        self.fd = fd = os.open(image, os.O_RDWR)
        bs = os.pread(fd, 512, 0)
        bps, self.spc = struct.unpack_from("<H", bs, 11)[0], bs[13]
        reserved, self.nfats = struct.unpack_from("<H", bs, 14)[0], bs[16]
        total = struct.unpack_from("<H", bs, 19)[0] or struct.unpack_from("<I", bs, 32)[0]
        self.fatsz = struct.unpack_from("<I", bs, 36)[0] * bps
        root = struct.unpack_from("<I", bs, 44)[0]
        self.fsinfo = struct.unpack_from("<H", bs, 48)[0] * bps
        self.fat_off = reserved * bps
        self.data_off = self.fat_off + self.nfats * self.fatsz
        self.csize = self.spc * bps
        self.limit = 2 + (total * bps - self.data_off) // self.csize
        self.fat = array.array("I")
        self.fat.frombytes(os.pread(fd, self.limit * 4, self.fat_off))
        assert sys.byteorder == "little" and self.fat[root] >= 0x0FFFFFF8
        data = bytearray(os.pread(fd, self.csize, self.pos(root)))
        used = 0
        while used < len(data) and data[used] != 0: used += 32
        self.root = Folder([root], data[:used], 0)
        self.folders = {"": self.root}
        self.all_folders = [self.root]
        self.next = 2
    def pos(self, c): return self.data_off + (c - 2) * self.csize
    def alloc(self, n):
        run, c = [], self.next
        while len(run) < n:
            if c >= self.limit: raise SystemExit("the volume is full")
            if self.fat[c] == 0: run.append(c)
            c += 1
        for a, b in zip(run, run[1:]): self.fat[a] = b
        self.fat[run[-1]] = EOC
        self.next = c
        return run
    def free(self, c):
        while 2 <= c < 0x0FFFFFF8:
            nxt = self.fat[c]
            self.fat[c] = 0
            c = nxt
    def short_name(self, folder, name):
        stem, dot, ext = name.rpartition(".")
        if not dot: stem, ext = name, ""
        ok = lambda s: "".join(ch for ch in s.upper() if ch.isascii() and (ch.isalnum() or ch in "$%'-_@~`!(){}^#&"))
        base, ext = ok(stem)[:8] or "_", ok(ext)[:3]
        k = folder.tails.get((base, ext), 0)
        while True:
            k += 1
            tail = f"~{k}"
            sfn = (base[:8 - len(tail)] + tail).ljust(8).encode() + ext.ljust(3).encode()
            if sfn not in folder.short: break
        folder.tails[(base, ext)] = k
        folder.short.add(sfn)
        return sfn
    @staticmethod
    def entry(sfn, attr, first, size):
        return struct.pack("<11sBBBHHHHHHHI", sfn, attr, 0, 0, TIME, DATE, DATE,
                           first >> 16, TIME, DATE, first & 0xFFFF, size)
    def add(self, path, attr, first, size):
        parent, _, name = path.rpartition("/")
        folder = self.folders[parent]
        sfn = self.short_name(folder, name)
        csum = 0
        for b in sfn: csum = (((csum & 1) << 7) + (csum >> 1) + b) & 0xFF
        units = list(struct.unpack(f"<{len(name.encode('utf-16-le')) // 2}H", name.encode("utf-16-le")))
        n = (len(units) + 12) // 13
        if len(units) % 13: units += [0] + [0xFFFF] * (n * 13 - len(units) - 1)
        slots = b""
        for seq in range(n, 0, -1):
            u = units[(seq - 1) * 13:seq * 13]
            slots += struct.pack("<B5HBBB6HH2H", seq | (0x40 if seq == n else 0), *u[:5],
                                 0x0F, 0, csum, *u[5:11], 0, *u[11:13])
        slots += self.entry(sfn, attr, first, size)
        off = len(folder.data)
        folder.data += slots
        while len(folder.data) > len(folder.clusters) * self.csize:
            c = self.alloc(1)[0]
            self.fat[folder.clusters[-1]] = c
            folder.clusters.append(c)
        folder.entries[name] = (off, n + 1, first)
        return folder
    def mkdir(self, path):
        c = self.alloc(1)[0]
        parent = self.add(path, 0x10, c, 0)
        dots = self.entry(b".          ", 0x10, c, 0) + self.entry(b"..         ", 0x10, parent.first, 0)
        f = Folder([c], bytearray(dots), c)
        self.folders[path] = f
        self.all_folders.append(f)
    def write(self, path, data):
        run = self.alloc((len(data) + self.csize - 1) // self.csize) if data else []
        i = 0
        while i < len(run):
            j = i + 1
            while j < len(run) and run[j] == run[j - 1] + 1: j += 1
            os.pwrite(self.fd, data[i * self.csize:j * self.csize], self.pos(run[i]))
            i = j
        self.add(path, 0x20, run[0] if run else 0, len(data))
    def unlink(self, path):
        parent, _, name = path.rpartition("/")
        folder = self.folders[parent]
        off, slots, first = folder.entries.pop(name)
        for k in range(slots): folder.data[off + 32 * k] = 0xE5
        self.free(first)
    def rmdir(self, path):
        self.unlink(path)
        del self.folders[path]
    def close(self):
        fd = self.fd
        for f in self.all_folders:
            data = bytes(f.data) + bytes(len(f.clusters) * self.csize - len(f.data))
            for k, c in enumerate(f.clusters):
                os.pwrite(fd, data[k * self.csize:(k + 1) * self.csize], self.pos(c))
        fat = self.fat.tobytes()
        for k in range(self.nfats):
            os.pwrite(fd, fat, self.fat_off + k * self.fatsz)
        free = self.fat[2:].count(0)
        os.pwrite(fd, struct.pack("<II", free, self.next), self.fsinfo + 488)
        os.fsync(fd)
        os.close(fd)

target, files = sys.argv[1], int(sys.argv[2])
w = MountWriter(target) if os.path.isdir(target) else ImageWriter(target)
rng = random.Random(20240601)
pool = rng.randbytes(1 << 20)
tops = [f"Folder {a:02d} of the bench" for a in range(10)]
leaves = [f"{top}/Subfolder {b:02d} with a long name" for top in tops for b in range(10)]
for d in tops + leaves + ["Large files", "Gone folder"]:
    w.mkdir(d)
names = []
for i in range(files):
    leaf = leaves[i % len(leaves)]
    name = f"{leaf}/Bench file {i:06d} long name.{('txt', 'dat', 'log', 'bin')[i % 4]}"
    size = 200 + (i * 7919) % 3897
    off = (i * 104729) % (len(pool) - size)
    w.write(name, f"{name} #{i}\n".encode() + pool[off:off + size])
    names.append(name)
for n in range(4):
    r = random.Random(n)
    w.write(f"Large files/Large file {n}.bin", b"".join(r.randbytes(4 << 20) for _ in range(16)))
# A folder whose files and the folder itself get deleted.
gone = min(100, max(1, files // 1000))
for i in range(gone):
    name = f"Gone folder/Old file {i:03d}.txt"
    w.write(name, f"{name}\n".encode() + pool[i * 977:i * 977 + 1500])
deleted = 0
for i in range(0, files, 331):
    w.unlink(names[i]); deleted += 1
for i in range(gone):
    w.unlink(f"Gone folder/Old file {i:03d}.txt"); deleted += 1
w.rmdir("Gone folder")
w.close()
print(files + 4 + gone, deleted)
PY
  read -r written deleted <"$WORK/gen.log"
  if [[ -n $mnt ]]; then
    sync
    loop_umount "$mnt" "$LOOPDEV"
  fi
  # fsck.fat -n only reads; it fails on any inconsistency in what was written.
  fsck.fat -n "$image" >"$WORK/fsck.log" 2>&1 || { tail -n 20 "$WORK/fsck.log" >&2; die "fsck.fat found errors in the generated volume"; }
  end_generating
else
  given_image
fi
size_mb=$(( $(stat -c %s "$image") / 1048576 ))
# Sectors per cluster, for the advanced mode, from fsstat (which also checks
# that the image is a FAT32 volume starting at sector 0).
fsstat "$image" >"$WORK/fsstat" 2>&1 || { head -n 5 "$WORK/fsstat" >&2; die "fsstat cannot read $image"; }
grep -q '^File System Type: FAT32' "$WORK/fsstat" || die "$image is not a bare FAT32 volume (fsstat: $(grep -m1 '^File System Type' "$WORK/fsstat"))"
spc=$(awk '/^Sector Size:/ { ss = $3 } /^Cluster Size:/ { cs = $3 } END { if (ss > 0) print cs / ss }' "$WORK/fsstat")
[[ $spc =~ ^[0-9]+$ && $spc -ge 1 ]] || die "no sector or cluster size in the fsstat output"

# ---------------------------------------------------------------------------
# 2. Measurements.
# ---------------------------------------------------------------------------
time_listings fat32
acmd=("$cli" ls --mode advanced --fat-entry 0 --sectors-per-cluster "$spc"
      --start-sector 0 --fs fat32 --size-mb "$size_mb" "$image")
measure - "${acmd[@]}"; adv_s=$best_s adv_kib=$best_kib
"${acmd[@]}" >"$WORK/ours-advanced.ls"
measure - cat "$image"; cat_s=$best_s cat_kib=$best_kib
time_recoveries fat32

echo
echo "FAT32 volume: $image ($size_mb MiB, $spc sectors per cluster), best of $runs run(s), image in the page cache"
printf 'listed lines: ondrel-cli ls %d, ondrel-cli ls --mode advanced %d, fls -r -p %d (%d of them deleted, "*")\n' \
  "$(wc -l <"$WORK/ours.ls")" "$(wc -l <"$WORK/ours-advanced.ls")" "$(wc -l <"$WORK/fls.ls")" \
  "$(grep -c ' \* ' "$WORK/fls.ls" || true)"
print_recovered '$* virtual files'
print_table
table_row "ls --mode advanced vs cat (raw read)" "$adv_s" "$cat_s" "$(ratio "$adv_s" "$cat_s")" "<= 2" \
  "$(mib "$adv_kib")" "$(mib "$cat_kib")" "-" "-"
warn_if_apart '$* virtual files'
