#!/usr/bin/env bash
# Sets up a fresh machine, builds, and opens the wizard on the bundled demo image.
# Without a display the wizard runs on a virtual one (Xvfb); the command-line
# equivalent is printed for a terminal-only session.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" "$root/build" -DONDREL_BUILD_TESTS=OFF -DONDREL_BUILD_BENCH=OFF
demo="$root/build/samples/demo.vhd"
if [ ! -f "$demo" ] || [ "$root/samples/demo.vhd.xz" -nt "$demo" ]; then
  mkdir -p "$(dirname "$demo")"
  xz -dc "$root/samples/demo.vhd.xz" >"$demo.part" && mv "$demo.part" "$demo"
fi
wizard="$root/build/src/ui/ondrel"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$wizard" "$demo" "$@"
fi
cli="$root/build/src/cli/ondrel-cli"
cat >&2 <<MSG
run: no display here, so the wizard opens on a virtual display (Xvfb) until it is closed
     (ONDREL_SCREENSHOT_DIR=DIR saves a picture of each page it shows).
     The same work without a display:
       $cli volumes $demo
       $cli ls $demo --volume 0
       $cli recover $demo --volume 0 --out ~/recovered
MSG
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$wizard" "$demo" "$@"
