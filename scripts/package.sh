#!/usr/bin/env bash
# Builds the Debian package (build-package/ondrel_VERSION_ARCH.deb) and, with
# --install, installs it with apt: package.sh [--install] [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
install=0
if [ "${1:-}" = --install ]; then install=1; shift; fi
build="${1:-$root/build-package}"
"$root/scripts/bootstrap.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  "$root/scripts/build.sh" "$build" -DONDREL_BUILD_TESTS=OFF -DONDREL_BUILD_BENCH=OFF
else
  cmake --build "$build" --parallel "$(nproc)"
fi
rm -f "$build"/ondrel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ondrel_*.deb)
echo "package: $deb" >&2
if [ "$install" = 1 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y -qq "$deb" >/dev/null
  echo "installed: $(dpkg-query -W -f='${Package} ${Version}' ondrel)" >&2
fi
