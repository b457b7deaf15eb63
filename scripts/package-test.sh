#!/usr/bin/env bash
# Builds the Debian package from build/release, installs it on this machine (as root, else through
# sudo) and runs the installed programs and checks the installed files. Needs dpkg-dev, help2man and
# desktop-file-utils (scripts/setup-deps.sh --tests).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target ulmora ulmora-batch ulmora-desktop-files ulmora-changelog
rm -f build/release/ulmora_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/ulmora_*.deb)
echo "package: $deb"

fail() { echo "package-test: $*" >&2; exit 1; }
deps=$(dpkg-deb -f "$deb" Depends)
for p in gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav qt6-qpa-plugins libqt6widgets6 \
         libgstreamer1.0-0; do
  grep -q "\b$p\b" <<<"$deps" || fail "Depends lacks $p: $deps"
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "./$deb" >/dev/null
dpkg -L ulmora >/dev/null || fail "not installed"

for f in /usr/bin/ulmora /usr/bin/ulmora-batch /usr/share/ulmora/nocta.html \
         /usr/share/applications/ulmora.desktop /usr/share/icons/hicolor/scalable/apps/ulmora.svg \
         /usr/share/man/man1/ulmora.1.gz /usr/share/man/man1/ulmora-batch.1.gz \
         /usr/lib/systemd/user/ulmora-station@.service /usr/share/ulmora/station.conf /usr/share/ulmora/station.ini; do
  [ -s "$f" ] || fail "missing $f"
done
# The installed station unit, as the service manager reads it.
tools/station/verify-unit.sh /usr/lib/systemd/user/ulmora-station@.service /usr/bin/ulmora-batch >/dev/null ||
  fail "the station unit does not verify"
for s in 16 32 48 64 128 256; do
  file -b "/usr/share/icons/hicolor/${s}x${s}/apps/ulmora.png" | grep -q "PNG image data, $s x $s" ||
    fail "icon ${s}x${s} missing or of another size"
done
desktop-file-validate /usr/share/applications/ulmora.desktop
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' /usr/share/icons/hicolor/scalable/apps/ulmora.svg
for m in ulmora ulmora-batch; do
  man -l "/usr/share/man/man1/$m.1.gz" 2>/dev/null | grep -q "^NAME" || fail "man page of $m does not render"
done

# The installed programs run from the installed files (not the build tree) and find the plugins.
scratch=$(mktemp -d /tmp/ulmora-pkg-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
/usr/bin/ulmora-batch --help | grep -q "^Usage: ulmora-batch" || fail "ulmora-batch --help"
/usr/bin/ulmora-batch --sim-camera --list-devices | grep -q "^sim:0" || fail "ulmora-batch --list-devices"
build/release/bin/ulmora-sample -q -W 160 -H 120 -n 8 -o "$scratch/clip.avi"
ULMORA_PROFILE="$scratch/p.ini" /usr/bin/ulmora-batch -q -n 2 -o "$scratch" "$scratch/clip.avi" ||
  fail "installed ulmora-batch cannot process a clip"
[ "$(ls "$scratch"/*.bmp | wc -l)" -eq 2 ] || fail "installed ulmora-batch wrote no pictures"
echo "package-test: $deb installs and runs"
