#!/usr/bin/env bash
# Sets up a fresh machine, builds, and lists the volumes of the bundled demo image.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" "$root/build" -DONDREL_BUILD_TESTS=OFF
demo="$root/build/samples/demo.vhd"
if [ ! -f "$demo" ] || [ "$root/samples/demo.vhd.xz" -nt "$demo" ]; then
  mkdir -p "$(dirname "$demo")"
  xz -dc "$root/samples/demo.vhd.xz" >"$demo.part" && mv "$demo.part" "$demo"
fi
exec "$root/build/src/cli/ondrel-cli" volumes "$demo" "$@"
