#!/usr/bin/env bash
# CI: the Debian package of a built tree, checked end to end. A relocated
# `cmake --install` must find its own data; the package must pass lintian
# (errors fail), install with apt, and its programs, desktop entry, metainfo
# and man pages must work where it put them; removing it must leave nothing.
# package-check.sh BUILD_DIR (a configured and built tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: package-check.sh BUILD_DIR}" && pwd)"
fail() { echo "package-check: $*" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
xz -dc "$root/samples/demo.vhd.xz" >"$work/demo.vhd"

# A relocated install reads the definitions it installed (no user or system copy in the way).
cmake --install "$build" --prefix "$work/prefix" >/dev/null
where=$(HOME="$work/home" XDG_DATA_HOME= XDG_DATA_DIRS="$work/none" "$work/prefix/bin/ondrel-cli" signatures --where)
[ "$where" = "$work/prefix/share/ondrel/FileSetting.txt" ] || fail "the relocated install reads $where"

rm -f "$build"/ondrel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ondrel_*.deb)
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt" >&2; fail "lintian finds errors"; }
grep -c . "$work/lintian.txt" >/dev/null && sed 's/^/lintian: /' "$work/lintian.txt" >&2 || true

dpkg-query -W ondrel >/dev/null 2>&1 && fail "ondrel is installed already"
$sudo apt-get install -y -qq "$deb" >/dev/null
dpkg -L ondrel >"$work/files"

[ "$(/usr/bin/ondrel-cli --version)" = "ondrel-cli $version" ] || fail "ondrel-cli --version says $(/usr/bin/ondrel-cli --version)"
/usr/bin/ondrel-cli volumes "$work/demo.vhd" >"$work/volumes.txt" || fail "ondrel-cli volumes fails on the demo"
grep -q NTFS "$work/volumes.txt" || fail "no NTFS volume listed on the demo: $(cat "$work/volumes.txt")"
[ "$(HOME="$work/home" XDG_DATA_HOME= XDG_DATA_DIRS=/usr/share /usr/bin/ondrel-cli signatures --where)" = /usr/share/ondrel/FileSetting.txt ] ||
  fail "the installed ondrel-cli does not read /usr/share/ondrel/FileSetting.txt"
mkdir -p "$work/shots"
HOME="$work/home" QT_QPA_PLATFORM=offscreen ONDREL_SCREENSHOT_DIR="$work/shots" timeout 20 /usr/bin/ondrel "$work/demo.vhd" \
  >/dev/null 2>&1 || true
ls "$work"/shots/*.png >/dev/null 2>&1 || fail "the installed wizard saved no screenshot"
desktop-file-validate /usr/share/applications/ondrel.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/org.ondrel.Ondrel.metainfo.xml >"$work/appstream.txt" 2>&1 ||
  { cat "$work/appstream.txt" >&2; fail "appstreamcli validate"; }
for page in ondrel ondrel-cli; do
  MANWIDTH=80 man -l "/usr/share/man/man1/$page.1.gz" >"$work/$page.txt" 2>/dev/null || fail "man -l $page"
  grep -q . "$work/$page.txt" || fail "man -l $page shows nothing"
done
for icon in /usr/share/icons/hicolor/scalable/apps/ondrel.svg /usr/share/icons/hicolor/48x48/apps/ondrel.png; do
  [ -s "$icon" ] || fail "no $icon"
done

$sudo apt-get remove --purge -y -qq ondrel >/dev/null
left=0
while read -r f; do
  [ -d "$f" ] && continue
  if [ -e "$f" ] || [ -L "$f" ]; then echo "left after removal: $f" >&2; left=1; fi
done <"$work/files"
[ "$left" = 0 ] || fail "files of the package are left in /usr"
echo "package-check: $(basename "$deb") built, linted, installed, used and removed cleanly" >&2
