#!/usr/bin/env bash
# Sets up a fresh machine, builds with warnings as errors and runs every test,
# then runs the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the concurrency tests under ThreadSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/bootstrap.sh"

# The tests save thousands of small files; on a memory file system when one
# has room (creating a file costs a millisecond on some virtual disks).
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] &&
  [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt 4194304 ]; then
  export TMPDIR
  TMPDIR="$(mktemp -d /dev/shm/ondrel-tests.XXXXXX)"
  trap 'rm -rf "$TMPDIR"' EXIT
fi

"$root/scripts/build.sh" "$root/build-test" -DONDREL_WERROR=ON
ctest --test-dir "$root/build-test" --output-on-failure --timeout 900 -j2

if [ "${ONDREL_SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/scripts/build.sh" "$root/build-asan" -DONDREL_WERROR=ON -DONDREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$root/build-asan" --output-on-failure --timeout 1800 -j2
fi

# The readers from many threads at once, under ThreadSanitizer (the core's
# reading layers and their concurrency tests alone).
if [ "${ONDREL_SKIP_TSAN:-0}" != 1 ]; then
  cmake -S "$root" -B "$root/build-tsan" -G Ninja -DONDREL_WERROR=ON -DONDREL_TSAN=ON -DONDREL_BUILD_UI=OFF >/dev/null
  cmake --build "$root/build-tsan" --target ondrel_concurrency_tests fixtures --parallel "$(nproc)"
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$root/build-tsan" --output-on-failure --timeout 900
fi

# Each fuzz target briefly (libFuzzer needs clang); what ever crashed is
# replayed above by the regression tests, this looks for what is new.
if [ "${ONDREL_SKIP_FUZZ:-0}" != 1 ] && command -v clang++ >/dev/null; then
  FUZZ_FAIL_ON_CRASH=1 "$root/fuzz/run.sh" "${ONDREL_FUZZ_SECONDS:-15}"
fi
