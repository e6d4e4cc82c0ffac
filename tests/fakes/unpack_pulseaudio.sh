#!/bin/sh
# Unpacks Debian's pulseaudio package into DIR/root, once, without
# installing it: installing it would take pipewire-alsa away. The package is
# fetched with apt-get download (Debian's archive is all it needs) and
# unpacked with dpkg -x; the libraries it needs come from scripts/install-deps
# --tests. Several test processes may ask at once: the first unpacks, the
# others wait for it.
set -eu
dir=$1
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
if [ -x "$dir/root/usr/bin/pulseaudio" ]; then exit 0; fi
work=$(mktemp -d "$dir/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get download pulseaudio >download.log 2>&1; then
  echo "apt-get download pulseaudio failed:" >&2
  cat download.log >&2
  exit 3
fi
dpkg -x pulseaudio_*.deb root
rm -rf "$dir/root"
mv root "$dir/root"
