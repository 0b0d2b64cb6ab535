#!/usr/bin/env bash
# Installs the build and test dependencies with apt when any is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libcli11-dev nlohmann-json3-dev
  xz-utils zlib1g-dev libzstd-dev libicu-dev
  sleuthkit qemu-utils testdisk xfsprogs
  qt6-base-dev xvfb xauth fonts-dejavu-core
  clang libclang-rt-14-dev
  scdoc librsvg2-bin desktop-file-utils appstream lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
