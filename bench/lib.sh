# lib.sh - helpers shared by the benchmark scripts.
#
# Source it after setting PROG. It builds on tests/fixtures/lib.sh (work
# folder, loop devices, mounts, cleanup on exit) and, like it, leaves the
# environment alone: the benchmarks must not change TZ (see README.md).

BENCH_ROOT=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=../tests/fixtures/lib.sh source-path=SCRIPTDIR
source "$BENCH_ROOT/tests/fixtures/lib.sh"

die() { echo "$PROG: $*" >&2; exit 1; }

# need PACKAGES TOOL...: every TOOL on PATH, or the packages to install
need() {
  local pkgs=$1 t
  shift
  for t; do
    command -v "$t" >/dev/null || die "$t is needed (apt install $pkgs)"
  done
}

# ---------------------------------------------------------------------------
# The volume benchmarks (fat-bench.sh, ntfs-bench.sh): one generated or given
# bare volume, ondrel-cli against The Sleuth Kit.
# ---------------------------------------------------------------------------
# bench_args PREFIX [FILES [RUNS]]: files, runs, cli, and image / keep from
# PREFIX_BENCH_IMAGE / PREFIX_BENCH_KEEP
bench_args() {
  local v
  BENCH_PREFIX=$1
  files=${2:-100000}
  runs=${3:-3}
  cli=${ONDREL_CLI:-$BENCH_ROOT/build-bench/src/cli/ondrel-cli}
  v=${BENCH_PREFIX}_BENCH_IMAGE
  image=${!v:-}
  v=${BENCH_PREFIX}_BENCH_KEEP
  keep=${!v:-}
  [[ $files =~ ^[0-9]+$ && $files -ge 1 ]] || die "FILES must be a positive number"
  [[ $runs =~ ^[0-9]+$ && $runs -ge 1 ]] || die "RUNS must be a positive number"
  [[ -x $cli ]] || die "$cli is missing: build it first (e.g. scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release) or set ONDREL_CLI"
}

# begin_generating WHAT FILE MIB: image=$WORK/FILE, a sparse file of MIB
# (PREFIX_BENCH_SIZE_MIB instead if set), at least 2 GiB; starts the clock
begin_generating() {
  local v=${BENCH_PREFIX}_BENCH_SIZE_MIB
  size_mib=${!v:-$3}
  (( size_mib < 2048 )) && size_mib=2048
  image="$WORK/$2"
  log "generating a ${size_mib} MiB $1 with $files small files in $WORK"
  gen_start=$(date +%s.%N)
  truncate -s "${size_mib}M" "$image"
}

# end_generating: report what was written (written, deleted) and how long it
# took; move the image to $keep if asked
end_generating() {
  local gen_s
  gen_s=$(echo "$(date +%s.%N) - $gen_start" | bc -l)
  printf '%s: generated in %.1f s: %d files written, %d deleted (%d live), image %s MiB apparent, %s MiB allocated\n' \
    "$PROG" "$gen_s" "$written" "$deleted" "$((written - deleted))" "$size_mib" "$(( $(du -k "$image" | cut -f1) / 1024 ))" >&2
  if [[ -n $keep ]]; then
    mv -f "$image" "$keep"
    image="$keep"
    log "image kept at $keep"
  fi
}

# given_image: checks for a PREFIX_BENCH_IMAGE
given_image() {
  [[ -f $image ]] || die "${BENCH_PREFIX}_BENCH_IMAGE=$image is not a file"
  [[ -z $keep ]] || log "${BENCH_PREFIX}_BENCH_KEEP is ignored with ${BENCH_PREFIX}_BENCH_IMAGE"
  log "using $image"
}

# measure OUTDIR CMD...: run CMD RUNS times (OUTDIR, if not "-", is emptied and
# the deletion synced before each run, untimed); sets best_s (seconds) and
# best_kib (peak RSS), the minimum of each over the runs.
measure() {
  local outdir=$1; shift
  local i s kib
  best_s="" best_kib=""
  for ((i = 0; i < runs; i++)); do
    if [[ $outdir != - ]]; then rm -rf "$outdir"; mkdir -p "$outdir"; sync; fi
    if ! /usr/bin/time -f '%e %M' -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr"; then
      log "failed: $*"
      tail -n 20 "$WORK/stderr" >&2
      exit 1
    fi
    read -r s kib <"$WORK/time"
    if [[ -z $best_s ]] || (( $(echo "$s < $best_s" | bc -l) )); then best_s=$s; fi
    if [[ -z $best_kib ]] || (( kib < best_kib )); then best_kib=$kib; fi
  done
}
ratio() { if (( $(echo "$2 > 0" | bc -l) )); then printf '%.2f' "$(echo "$1 / $2" | bc -l)"; else echo "n/a"; fi; }
mib() { printf '%.1f' "$(echo "$1 / 1024" | bc -l)"; }
# count DIR: "FILES BYTES META_FILES META_BYTES" of the regular files under DIR;
# META counts the files whose path has a component starting with "$" (NTFS
# metadata files, TSK's virtual files $MBR, $FAT1, $OrphanFiles/...).
count() {
  find "$1" -type f -printf '%P\t%s\n' | awk -F '\t' '
    { n++; b += $2; if ($1 ~ /(^|\/)\$/) { mn++; mb += $2 } }
    END { printf "%d %d %d %d\n", n, b, mn, mb }'
}

# time_listings FS: ondrel-cli ls against fls -r -p (ls_s ls_kib fls_s
# fls_kib; the listings in $WORK/ours.ls and $WORK/fls.ls)
time_listings() {
  local -a ocmd=("$cli" ls --start-sector 0 --fs "$1" --size-mb "$size_mb" "$image")
  cat "$image" >/dev/null   # warm the page cache
  measure - "${ocmd[@]}"; ls_s=$best_s ls_kib=$best_kib
  "${ocmd[@]}" >"$WORK/ours.ls"
  measure - fls -r -p "$image"; fls_s=$best_s fls_kib=$best_kib
  fls -r -p "$image" >"$WORK/fls.ls"
}

# time_recoveries FS: ondrel-cli recover against tsk_recover -a, both into
# out_base (PREFIX_BENCH_OUT, default the work folder): rec_s rec_kib tsk_s
# tsk_kib, and what each wrote as ours_* / peer_* (see count)
time_recoveries() {
  local v=${BENCH_PREFIX}_BENCH_OUT ours_out peer_out
  out_base="${!v:-$WORK}"
  [[ -d $out_base ]] || die "$v=$out_base is not a folder"
  out_base=$(mktemp -d "$out_base/ondrel-$PROG-out.XXXXXX")
  [[ $out_base == "$WORK"/* ]] || trap 'cleanup; rm -rf "$out_base"' EXIT
  ours_out="$out_base/ours" peer_out="$out_base/peer"
  cat "$image" >/dev/null
  measure "$ours_out" "$cli" recover --start-sector 0 --fs "$1" --size-mb "$size_mb" "$image" --out "$ours_out"
  rec_s=$best_s rec_kib=$best_kib
  read -r ours_n ours_b ours_mn ours_mb < <(count "$ours_out")
  rm -rf "$ours_out"
  measure "$peer_out" tsk_recover -a "$image" "$peer_out"
  tsk_s=$best_s tsk_kib=$best_kib
  read -r peer_n peer_b peer_mn peer_mb < <(count "$peer_out")
  rm -rf "$peer_out"
}

# print_recovered META: where the recoveries wrote and what; META names the
# files counted apart
print_recovered() {
  echo "output file system: $(df --output=fstype "$out_base" | tail -n 1) ($out_base)"
  printf 'recovered:    ondrel-cli recover %d files / %d bytes (of which %s: %d / %d bytes)\n' \
    "$ours_n" "$ours_b" "$1" "$ours_mn" "$ours_mb"
  printf '              tsk_recover -a   %d files / %d bytes (of which %s: %d / %d bytes)\n' \
    "$peer_n" "$peer_b" "$1" "$peer_mn" "$peer_mb"
  if [[ -n ${deleted:-} ]]; then
    printf '              (%d files were deleted; ondrel-cli recover includes deleted entries, tsk_recover -a does not)\n' "$deleted"
  fi
}

table_row() { printf '%-38s %8s %8s %6s %7s   %9s %9s %6s %7s\n' "$@"; }
# compare_row MEASURE OURS_S PEER_S GOAL OURS_KIB PEER_KIB MEM_GOAL
compare_row() {
  table_row "$1" "$2" "$3" "$(ratio "$2" "$3")" "$4" "$(mib "$5")" "$(mib "$6")" "$(ratio "$5" "$6")" "$7"
}

# print_table: the header and the rows of time_listings and time_recoveries
print_table() {
  echo
  table_row "measure" "ours s" "peer s" "ratio" "goal" "ours MiB" "peer MiB" "ratio" "goal"
  compare_row "ls vs fls -r -p" "$ls_s" "$fls_s" "<= 0.5" "$ls_kib" "$fls_kib" "< 2"
  compare_row "recover (whole volume) vs tsk_recover" "$rec_s" "$tsk_s" "<= 0.7" "$rec_kib" "$tsk_kib" "-"
}

# warn_if_apart META: warn when the two recoveries, META files left out,
# disagree by more than 5% in files or bytes
warn_if_apart() {
  if (( peer_n - peer_mn > 0 && peer_b - peer_mb > 0 )); then
    awk -v a="$((ours_n - ours_mn))" -v b="$((peer_n - peer_mn))" \
        -v c="$((ours_b - ours_mb))" -v d="$((peer_b - peer_mb))" -v prog="$PROG" -v meta="$1" 'BEGIN {
      if ((a - b) / b > 0.05 || (b - a) / b > 0.05 || (c - d) / d > 0.05 || (d - c) / d > 0.05)
        print prog ": warning: the recovered file counts or byte totals (" meta " left out) differ by more than 5%" > "/dev/stderr" }'
  fi
}
