# Sourced by the Windows scripts and checks: where the cross build lives,
# and the private Wine environment the Windows program runs in.
#
# Wine runs in a private prefix inside the build folder, without a display
# (a message box then returns at once). A crash ends the process with its
# exception code instead of starting the debugger, which would hide it
# behind exit status 0.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
build=${QUORVEL_WINDOWS_BUILD:-$root/build-windows}
deps=$build/deps
# The Linux program the Windows checks compare with.
linux_build=$build/linux
toolchain=$root/cmake/mingw-w64-x86_64.cmake

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine || echo wine64)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo wineserver)
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$build/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d"
# An ALSA configuration whose default device is the null plugin: Wine's
# audio driver then shows a mixer on machines without sound hardware. It
# stands alone, without the machine's alsa.conf: that one loads the
# machine's conf.d after anything said here, and pipewire-alsa's file there
# makes the default devices PipeWire's, which without a running PipeWire
# open nothing. The default control device is the first card, as ALSA has
# it out of the box.
null_alsa=$build/null-alsa.conf
# Wine's audio drivers off: a machine without any mixer.
no_audio="winealsa.drv,winepulse.drv=d;winedbg.exe=d"

# Runs a step quietly into $log; its output is shown only when it fails.
quiet() {
  if ! "$@" >>"${log:-/dev/null}" 2>&1; then
    [ -n "${log:-}" ] && tail -n 60 "$log"
    echo "Failed: $*" >&2
    exit 1
  fi
}

# Makes the prefix (once) and keeps a wineserver up for it.
start_wine() {
  mkdir -p "$WINEPREFIX"
  printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$null_alsa"
  "$wineserver" -p >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix ..."
    WINEDLLOVERRIDES="$no_audio;mscoree,mshtml=" quiet "$wine" wineboot -i
  fi
  quiet "$wine" cmd /c exit 0
}

stop_wine() { "$wineserver" -k >/dev/null 2>&1 || true; }
