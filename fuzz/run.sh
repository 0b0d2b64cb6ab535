#!/usr/bin/env bash
# Runs every fuzz target (or those named) for SECONDS each, with the seeds and
# dictionaries, then minimizes what crashed, hung or ran out of memory and
# copies it to tests/regression/<target>/ for the normal test suite to replay.
#   fuzz/run.sh SECONDS [TARGET...]      (TARGET: vhd, fs_ntfs, ...; default all)
# Needs clang and libFuzzer (Debian: clang, libclang-rt-14-dev); builds build-fuzz/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:?usage: fuzz/run.sh SECONDS [TARGET...]}"
shift
build="$root/build-fuzz"
work="${FUZZ_WORK:-$build/work}"

# Runs started side by side (one per core) share the build: one builds at a time.
# FUZZ_NO_BUILD=1 runs the targets as built (long runs while the sources change).
mkdir -p "$build"
if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  exec 9>"$build/.build-lock"
  flock 9
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DONDREL_FUZZ=ON -DONDREL_BUILD_TESTS=OFF \
    -DONDREL_BUILD_UI=OFF -DONDREL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target fuzz_all >/dev/null
  flock -u 9
fi

targets=("$@")
if ((${#targets[@]} == 0)); then
  for exe in "$build"/fuzz/fuzz_*; do targets+=("$(basename "$exe" | sed 's/^fuzz_//')"); done
fi

dictionary_for() {
  case "$1" in
    vhd | vhd_fixed | vdi | vmdk | vmdk_descriptor | qcow2 | vhdx) echo "$root/fuzz/dict/containers.dict" ;;
    partitions | lvm2) echo "$root/fuzz/dict/volumes.dict" ;;
    carving | structure_*) echo "$root/fuzz/dict/carving.dict" ;;
    *) cat "$root/fuzz/dict/volumes.dict" "$root/fuzz/dict/filesystems.dict" >"$work/fs.dict"; echo "$work/fs.dict" ;;
  esac
}

mkdir -p "$work"
# Seeds: the small images of fuzz/seeds.tar.xz, one folder per target.
if [ -f "$root/fuzz/seeds.tar.xz" ] && [ ! -d "$work/seeds" ]; then
  mkdir -p "$work/seeds" && tar -xJf "$root/fuzz/seeds.tar.xz" -C "$work/seeds"
fi

crashed=()
printf '%-20s %12s %8s %8s %s\n' TARGET EXECS COV FEATURES FINDINGS
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "no target $t" >&2; exit 2; }
  corpus="$work/corpus/$t" artifacts="$work/artifacts/$t/"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  [ -d "$work/seeds/$t" ] && cp -n "$work/seeds/$t"/* "$corpus"/ 2>/dev/null || true
  log="$work/$t.log"
  "$exe" "$corpus" -dict="$(dictionary_for "$t")" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 \
    -max_len=4194304 -artifact_prefix="$artifacts" -print_final_stats=1 >"$log" 2>&1 || true
  execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+' || echo 0)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+' || echo 0)
  findings=0
  # Slow units are a busy machine's measure, not findings.
  for a in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
    [ -f "$a" ] || continue
    findings=$((findings + 1))
    min="$a.min"
    timeout 120 "$exe" -minimize_crash=1 -max_total_time=60 -runs=100000 -timeout=10 -rss_limit_mb=1024 \
      -exact_artifact_path="$min" "$a" >/dev/null 2>&1 || true
    [ -s "$min" ] || cp "$a" "$min"
    mkdir -p "$root/tests/regression/$t"
    cp "$min" "$root/tests/regression/$t/$(basename "$a")"
  done
  printf '%-20s %12s %8s %8s %s\n' "$t" "$execs" "$cov" "$ft" "$findings"
  for a in "$artifacts"crash-* "$artifacts"leak-*; do
    [ -f "$a" ] && [[ "$a" != *.min ]] && crashed+=("$t: $(basename "$a")")
  done
done
if ((${#crashed[@]})); then
  printf 'fuzz: new crash: %s (minimized copy under tests/regression/)\n' "${crashed[@]}" >&2
  [ "${FUZZ_FAIL_ON_CRASH:-0}" = 1 ] && exit 1
fi
exit 0
