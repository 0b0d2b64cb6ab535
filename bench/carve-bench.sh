#!/usr/bin/env bash
# Carving benchmarks against PhotoRec and `cat`, as ratios:
#   - `ondrel-cli carve --out` of a generated raw image (default 2 GiB) holding
#     a few thousand files made by real tools, against `photorec` on the same
#     image (every file type, 512-byte blocks, so files may start at any
#     sector) and against reading the image with `cat` (and `carve --list`,
#     which writes no files, against `cat`); wall-clock seconds and
#     peak resident memory, and how many placed files each brought back
#     byte-identical;
#   - false finds per GiB on bytes that hold no file: 256 MiB of
#     /dev/urandom and a large .xz (the image's first 512 MiB, xz -1),
#     `ondrel-cli carve --list` against the files PhotoRec writes.
# The files are the intact ones of tests/fixtures/images/structure.img (JPEG
# with EXIF thumbnails, progressive JPEG, PNG, animated GIF, BMP, TIFF, zip
# with comments and its office and e-book kinds, PDF with incremental
# updates, WAV, AVI, MP4, MOV, HEIC, SQLite, 7z, gzip, MP3, OLE2), cut out by
# its manifest and laid one after another at sector boundaries, each copy
# made distinct by where it lies, with seeded filler (zeros, text and
# pseudo-random bytes that begin no sector with a start signature) between
# them. Each figure is the best of RUNS runs with the image in the page cache.
#
# Usage: bench/carve-bench.sh [SIZE_MIB (default 2048)] [RUNS (default 3)]
# Environment:
#   ONDREL_CLI=path   the ondrel-cli to measure (default build-bench/src/cli/ondrel-cli;
#                     this script never builds it)
#   CARVE_BENCH_OUT=dir  where both carvers write (default: the work folder under /var/tmp)
# Needs photorec (package testdisk), xz, python3, bc and /usr/bin/time (package time).
set -euo pipefail
PROG=carve-bench
# shellcheck source=lib.sh source-path=SCRIPTDIR
source "$(dirname "$0")/lib.sh"
size_mib=${1:-2048}
runs=${2:-3}
[[ $size_mib =~ ^[0-9]+$ && $size_mib -ge 64 ]] || die "SIZE_MIB must be a number of at least 64"
[[ $runs =~ ^[0-9]+$ && $runs -ge 1 ]] || die "RUNS must be a positive number"
cli=${ONDREL_CLI:-$BENCH_ROOT/build-bench/src/cli/ondrel-cli}
[[ -x $cli ]] || die "$cli is missing: build it first (scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release) or set ONDREL_CLI"
need "testdisk xz-utils python3 bc" photorec xz python3 bc
[[ -x /usr/bin/time ]] || die "/usr/bin/time is needed (apt install time)"
images="$BENCH_ROOT/tests/fixtures/images"
[[ -f $images/structure.img.xz && -f $images/structure.manifest ]] || die "tests/fixtures/images/structure.img.xz is missing"

make_work /var/tmp/ondrel-carve-bench.XXXXXX
out_base=${CARVE_BENCH_OUT:-$WORK}
[[ -d $out_base ]] || die "CARVE_BENCH_OUT=$out_base is not a folder"
out_base=$(mktemp -d "$out_base/ondrel-carve-bench-out.XXXXXX")
[[ $out_base == "$WORK"/* ]] || trap 'cleanup; rm -rf "$out_base"' EXIT

# ---------------------------------------------------------------------------
# 1. The image and its manifest (offset, size, sha256 of every placed file).
# ---------------------------------------------------------------------------
image="$WORK/carve.img"
log "generating a ${size_mib} MiB image in $WORK"
xz -dc "$images/structure.img.xz" >"$WORK/structure.img"
nice -n 19 python3 - "$WORK/structure.img" "$images/structure.manifest" "$image" "$size_mib" "$WORK/placed" <<'PY'
import hashlib, random, sys
src, manifest, out, mib, placed = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
data = open(src, "rb").read()
files = []
for line in open(manifest):
    if line.startswith("#"):
        continue
    f = line.rstrip("\n").split("\t")
    if f[4] == "intact":
        off, size = int(f[0]), int(f[1])
        files.append((f[3], data[off:off + size]))
starts = [b"\xff\xd8\xff", b"\x89PNG", b"GIF8", b"BM", b"II*\x00", b"MM\x00*", b"%PDF", b"PK\x03\x04",
          b"\xd0\xcf\x11\xe0", b"7z\xbc\xaf", b"\x1f\x8b", b"RIFF", b"SQLite", b"ID3", b"\xff\xfb", b"\xff\xf3",
          b"\xff\xfa", b"\xff\xf2", b"\xff\xe3", b"Rar!"]
rng = random.Random(20261210)
words = b"the quick brown fox jumps over a lazy dog while data waits to be found again "
def sector_free(s):
    return not any(s.startswith(p) for p in starts) and s[4:8] != b"ftyp"
def filler(n):
    kind = rng.randrange(3)
    if kind == 0:
        return bytes(n)
    if kind == 1:
        return (words * (n // len(words) + 1))[:n]
    out = bytearray(rng.randbytes(n))
    for at in range(0, n, 512):
        while not sector_free(bytes(out[at:at + 8])):
            out[at:at + 8] = rng.randbytes(8)
    return bytes(out)
total = mib << 20
placed_out = open(placed, "w")
count = 0
with open(out, "wb") as img:
    pos = 0
    while True:
        gap = rng.choice([0, 0, 512, 4096, 65536, 262144, 1 << 20])
        kind, body = files[rng.randrange(len(files))]
        need = gap + ((len(body) + 511) // 512) * 512
        if pos + need > total:
            break
        img.write(filler(gap))
        pos += gap
        img.write(body)
        img.write(bytes(((len(body) + 511) // 512) * 512 - len(body)))
        placed_out.write(f"{pos}\t{len(body)}\t{hashlib.sha256(body).hexdigest()}\t{kind}\n")
        pos += ((len(body) + 511) // 512) * 512
        count += 1
    img.write(filler(total - pos) if total - pos < (1 << 24) else bytes(total - pos))
print(f"{count} files placed", file=sys.stderr)
PY
placed=$(wc -l <"$WORK/placed")
distinct=$(cut -f3 "$WORK/placed" | sort -u | wc -l)
log "$placed files placed ($distinct distinct contents)"

# hashes_found DIR: how many placed files (by offset order, counted with
# their repeats) a folder holds byte-identical: each placed copy is matched
# by one saved file of the same content
hashes_found() {
  python3 - "$WORK/placed" "$1" <<'PY'
import collections, hashlib, os, sys
want = collections.Counter(l.split("\t")[2] for l in open(sys.argv[1]))
got = collections.Counter()
for root, _, names in os.walk(sys.argv[2]):
    for n in names:
        if n.endswith(".xml"):
            continue
        h = hashlib.sha256()
        with open(os.path.join(root, n), "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                h.update(chunk)
        got[h.hexdigest()] += 1
print(sum(min(n, got[h]) for h, n in want.items()), sum(got.values()))
PY
}

photorec_cmd=partition_none,options,paranoid,fileopt,everything,enable,blocksize,512,search
# photorec_into DIR IMAGE: PhotoRec writes DIR/recup.N/ (its log and session go to DIR)
photorec_into=(bash -c 'cd "$1" && exec photorec /log /d "$1/recup" /cmd "$2" "$3" </dev/null' photorec_into)

# ---------------------------------------------------------------------------
# 2. Carving the image: ondrel-cli, PhotoRec, cat.
# ---------------------------------------------------------------------------
cat "$image" >/dev/null
measure - cat "$image"
cat_s=$best_s cat_kib=$best_kib
measure - "$cli" carve --list "$image"
list_s=$best_s list_kib=$best_kib
measure "$out_base/ours" "$cli" carve --out "$out_base/ours" "$image"
ours_s=$best_s ours_kib=$best_kib
read -r ours_found ours_files < <(hashes_found "$out_base/ours")
rm -rf "$out_base/ours"
measure "$out_base/peer" "${photorec_into[@]}" "$out_base/peer" "$image" "$photorec_cmd"
peer_s=$best_s peer_kib=$best_kib
read -r peer_found peer_files < <(hashes_found "$out_base/peer")
rm -rf "$out_base/peer"

# ---------------------------------------------------------------------------
# 3. False finds on bytes that hold no file.
# ---------------------------------------------------------------------------
head -c $((256 << 20)) /dev/urandom >"$WORK/random.bin"
head -c $((512 << 20)) "$image" | nice -n 19 xz -1 -T0 >"$WORK/image.xz"
# false_finds FILE: "OURS PEER" finds on FILE, each per GiB of it
false_finds() {
  local ours peer gib
  ours=$("$cli" carve --list "$1" 2>/dev/null | wc -l)
  rm -rf "$out_base/false" && mkdir -p "$out_base/false"
  "${photorec_into[@]}" "$out_base/false" "$1" "$photorec_cmd" >/dev/null 2>&1
  # report.xml is PhotoRec's own account, not a find
  peer=$(find "$out_base/false" -path '*/recup.*' -type f ! -name report.xml | wc -l)
  rm -rf "$out_base/false"
  gib=$(echo "$(stat -c %s "$1") / 1073741824" | bc -l)
  printf '%s %s %.1f %.1f\n' "$ours" "$peer" "$(echo "$ours / $gib" | bc -l)" "$(echo "$peer / $gib" | bc -l)"
}
read -r rnd_ours rnd_peer rnd_ours_g rnd_peer_g < <(false_finds "$WORK/random.bin")
read -r xz_ours xz_peer xz_ours_g xz_peer_g < <(false_finds "$WORK/image.xz")
xz_mib=$(( $(stat -c %s "$WORK/image.xz") >> 20 ))

echo
echo "image: $size_mib MiB, $placed files placed ($distinct distinct contents); best of $runs runs, page cache warm"
echo "output file system: $(df --output=fstype "$out_base" | tail -n 1) ($out_base)"
printf 'brought back byte-identical: ondrel-cli %d of %d (%d files written), photorec %d of %d (%d files written)\n' \
  "$ours_found" "$placed" "$ours_files" "$peer_found" "$placed" "$peer_files"
echo
table_row "measure" "ours s" "peer s" "ratio" "goal" "ours MiB" "peer MiB" "ratio" "goal"
compare_row "carve --out vs photorec" "$ours_s" "$peer_s" "<= 0.5" "$ours_kib" "$peer_kib" "-"
compare_row "carve --out vs cat" "$ours_s" "$cat_s" "<= 1.5" "$ours_kib" "$cat_kib" "-"
compare_row "carve --list (no files written) vs cat" "$list_s" "$cat_s" "-" "$list_kib" "$cat_kib" "-"
echo
printf '%-38s %8s %8s %14s %14s\n' "false finds" "ours" "peer" "ours per GiB" "peer per GiB"
printf '%-38s %8s %8s %14s %14s\n' "256 MiB of /dev/urandom" "$rnd_ours" "$rnd_peer" "$rnd_ours_g" "$rnd_peer_g"
printf '%-38s %8s %8s %14s %14s\n' "xz -1 of 512 MiB of the image ($xz_mib MiB)" "$xz_ours" "$xz_peer" "$xz_ours_g" "$xz_peer_g"
echo "(PhotoRec knows .xz files: the xz it finds in the .xz is the file itself, not a false find)"
