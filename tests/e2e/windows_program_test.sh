#!/usr/bin/env bash
# The Windows program under Wine, as a user runs it: one check per call,
# named by the first argument. CTest runs each (see tests/CMakeLists.txt)
# with QUORVEL_EXE (the cross-built program), QUORVEL_LINUX_BINARY (the
# Linux build of the same source) and QUORVEL_SOURCE_DIR set.
set -euo pipefail
check=$1
root=$QUORVEL_SOURCE_DIR
source "$root/scripts/windows/env.sh"
exe=$QUORVEL_EXE
linux=$QUORVEL_LINUX_BINARY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# No mixer: Wine's audio drivers off. The run calls the message box with
# the text and title, MB_OK, and exits 1 without saving anything. Without a
# display the box cannot be shown, so the text is on standard error too.
no_mixer() {
  local status=0
  (cd "$work" && WINEDLLOVERRIDES="$no_audio" WINEDEBUG=+relay \
     "$wine" "$exe" -out >/dev/null 2>"$work/trace") || status=$?
  [ "$status" -eq 1 ] || { echo "exit status $status"; return 1; }
  grep -aq 'Call user32.MessageBoxA(00000000,[0-9a-f]* "Tavorin Could not find any mixer drivers on this System!",[0-9a-f]* "Brevalt, Inc.",00000000)' \
    "$work/trace" || { echo "no MessageBoxA call with the text, title and MB_OK"; return 1; }
  grep -aq 'Ret  user32.MessageBoxA() retval=\(00000000\|ffffffff\) ' "$work/trace" ||
    { echo "the message box was shown (no display was expected)"; return 1; }
  local err
  err=$(cd "$work" && WINEDLLOVERRIDES="$no_audio" "$wine" "$exe" -out 2>&1 >/dev/null | tr -d '\r') ||
    true
  [ "$err" = "Brevalt, Inc.: Tavorin Could not find any mixer drivers on this System!" ] ||
    { echo "standard error: $err"; return 1; }
  [ -z "$(find "$work" -name '*.xml')" ] || { echo "a document was saved"; return 1; }
}

# Wine's mixer of the null ALSA device: saved under the device's name.
save_wine_mixer() {
  (cd "$work" && ALSA_CONFIG_PATH="$null_alsa" "$wine" "$exe" -out >/dev/null 2>"$work/err") ||
    { cat "$work/err"; return 1; }
  local saved
  saved=$(find "$work" -name '*.xml' | head -n 1)
  [ -n "$saved" ] || { echo "nothing saved"; return 1; }
  iconv -f UTF-16 -t UTF-8 "$saved" >"$work/saved.utf8.xml"
  grep -q '<audio_mixer id="0" destinations="1">' "$work/saved.utf8.xml" &&
    grep -q 'component_type="4">' "$work/saved.utf8.xml" &&
    grep -q 'ctrl_type="1342373889"' "$work/saved.utf8.xml" &&
    grep -q 'ctrl_type="536936450"' "$work/saved.utf8.xml" ||
    { echo "not a document of a speakers destination with volume and mute:"; head -c 600 "$work/saved.utf8.xml"; return 1; }
}

# One process restores the destination volume and mute from in.xml, then
# saves them: Wine keeps mixer values only for the life of the process.
restore_wine_mixer() {
  save_wine_mixer || return 1
  python3 - "$work/saved.utf8.xml" "$work/in.xml" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
destination = text.index("<destination")
source = text.find("<source", destination)
head, tail = text[:source], text[source:]
# The destination's volume and mute get values a fresh Wine mixer never has.
head = re.sub(r'(ctrl_type="1342373889"[^>]*>[^<]*<value ch="1">)\d+', r'\g<1>21000', head, count=1)
head = re.sub(r'(ctrl_type="536936450"[^>]*>[^<]*<value>)\d+', r'\g<1>1', head, count=1)
open(sys.argv[2], "w", encoding="utf-8").write(
    (head + tail).replace('encoding="UTF-16"', 'encoding="UTF-8"'))
PY
  (cd "$work" && ALSA_CONFIG_PATH="$null_alsa" "$wine" "$exe" -local in.xml -out out.xml \
     >/dev/null 2>"$work/err") || { cat "$work/err"; return 1; }
  iconv -f UTF-16 -t UTF-8 "$work/out.xml" >"$work/out.utf8.xml"
  python3 - "$work/out.utf8.xml" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
head = text[:text.find("<source")]
volume = re.search(r'ctrl_type="1342373889"[^>]*>[^<]*<value ch="1">(\d+)', head)
mute = re.search(r'ctrl_type="536936450"[^>]*>[^<]*<value>(\d+)', head)
if not volume or not mute or abs(int(volume.group(1)) - 21000) > 2 or mute.group(1) != "1":
    print("destination volume/mute in out.xml:", volume and volume.group(1), mute and mute.group(1))
    sys.exit(1)
PY
}

# The simulated device: the same documents as the Linux build.
sim_saves_as_linux() {
  mkdir -p "$work/linux" "$work/windows"
  cp "$root/examples/soundcard.xml" "$work/linux/device.xml"
  cp "$root/examples/soundcard.xml" "$work/windows/device.xml"
  (cd "$work/linux" && QUORVEL_MIXER=sim:device.xml "$linux" -out saved.xml >/dev/null 2>&1) ||
    { echo "the Linux build failed"; return 1; }
  (cd "$work/windows" && QUORVEL_MIXER=sim:device.xml "$wine" "$exe" -out saved.xml \
     >/dev/null 2>&1) || { echo "the Windows build failed"; return 1; }
  cmp "$work/linux/saved.xml" "$work/windows/saved.xml"
}

# A restore on the simulated device: both builds change the device file
# alike, and save the same state after it.
sim_restores_as_linux() {
  sim_saves_as_linux || return 1
  iconv -f UTF-16 -t UTF-8 "$work/linux/saved.xml" |
    sed -e 's/encoding="UTF-16"/encoding="UTF-8"/' \
        -e 's/>45875</>1234</g' -e 's/Master Mute<value>0</Master Mute<value>1</' >"$work/in.xml"
  cp "$work/in.xml" "$work/linux/in.xml"
  cp "$work/in.xml" "$work/windows/in.xml"
  (cd "$work/linux" && QUORVEL_MIXER=sim:device.xml "$linux" -local in.xml -out after.xml \
     >/dev/null 2>"$work/linux/err") || { echo "the Linux build failed:"; cat "$work/linux/err"; return 1; }
  (cd "$work/windows" && QUORVEL_MIXER=sim:device.xml "$wine" "$exe" -local in.xml \
     -out after.xml >/dev/null 2>"$work/windows/err") ||
    { echo "the Windows build failed:"; cat "$work/windows/err"; return 1; }
  ! cmp -s "$work/linux/saved.xml" "$work/linux/after.xml" ||
    { echo "the restore changed nothing"; return 1; }
  cmp "$work/linux/after.xml" "$work/windows/after.xml" &&
    cmp "$work/linux/device.xml" "$work/windows/device.xml"
}

# "http:" sources through the platform's URL service, from a local server.
http_sources() {
  mkdir -p "$work/served"
  cp "$root/examples/soundcard.xml" "$work/served/in.xml"
  cp "$root/examples/soundcard.xml" "$work/device.xml"
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/served" >/dev/null 2>&1 &
  local server=$!
  local i
  for i in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.1
  done
  local ok=0 err status
  # The console streams of a Windows program end their lines with CR LF.
  err=$(cd "$work" && QUORVEL_MIXER=sim:device.xml "$wine" "$exe" -local \
          "http://127.0.0.1:$port/in.xml" 2>&1 >/dev/null | tr -d '\r') || ok=1
  [ "$err" = "XML document loaded successfully" ] || { echo "-local http: $err"; ok=1; }
  status=0
  err=$(cd "$work" && QUORVEL_MIXER=sim:device.xml "$wine" "$exe" -url \
          "http://127.0.0.1:$port/missing.xml" 2>&1 >/dev/null) || status=$?
  err=$(printf '%s' "$err" | tr -d '\r')
  case "$err" in
    *"HTTP status 404"*"File not found error.") [ "$status" -eq 1 ] || ok=1 ;;
    *) echo "-url 404: $err"; ok=1 ;;
  esac
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  return $ok
}

# A server that drips its answer a byte at a time: the URL service's
# transfer ends at the deadline, and the message says the answer was cut
# off, not that none came (Wine's service does not say how many bytes had
# come).
dripping_server() {
  cp "$root/examples/soundcard.xml" "$work/device.xml"
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 - "$port" >/dev/null 2>&1 <<'PY' &
import socket, sys, threading, time
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen(4)
def serve(connection):
    try:
        connection.recv(65536)
        body = b"<audio_mixer id='0'>" + b" " * 100000 + b"</audio_mixer>"
        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n"
                           b"Connection: close\r\n\r\n" % len(body))
        for i in range(len(body)):
            connection.sendall(body[i:i + 1])
            time.sleep(0.1)
    except OSError:
        pass
    finally:
        connection.close()
while True:
    connection, _ = listener.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
PY
  local server=$!
  local i
  for i in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.1
  done
  local ok=0 err status=0 started=$SECONDS
  err=$(cd "$work" && QUORVEL_MIXER=sim:device.xml QUORVEL_FETCH_TIMEOUT=3 "$wine" "$exe" -url \
          "http://127.0.0.1:$port/drip.xml" 2>&1 >/dev/null) || status=$?
  local took=$((SECONDS - started))
  err=$(printf '%s' "$err" | tr -d '\r')
  [ "$status" -eq 1 ] || { echo "exit status $status"; ok=1; }
  [ "$took" -le 15 ] || { echo "took $took s with a deadline of 3 s"; ok=1; }
  case "$err" in
    *"cut off after "*" bytes: the document did not arrive whole within 3 seconds"*) ;;
    *"the server answered, but the document did not arrive whole within 3 seconds"*) ;;
    *) echo "$err"; ok=1 ;;
  esac
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  return $ok
}

# cpack makes quorvel-<version>-win64.zip from the cross build, in the build
# folder. Unpacked into a fresh folder it holds the program, the README as
# README.txt and the copyright notices as COPYING.txt, both with Windows line
# ends, and the example devices; the unpacked program runs under Wine and
# saves the example device as the built one does.
zip_package() {
  local dir=$work/zip
  rm -rf "$dir"
  mkdir -p "$dir/unpacked" "$dir/run-unpacked" "$dir/run-built"
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  local zip=$build/quorvel-$version-win64.zip
  rm -f "$zip"
  # Made under umask 027: the zip's folders and files have the same modes
  # whatever the umask (unpacked on a Unix system, they are open to all).
  (cd "$build" && umask 027 && cpack -G ZIP) >"$dir/cpack.log" 2>&1 ||
    { cat "$dir/cpack.log"; return 1; }
  [ -f "$zip" ] || { echo "cpack made no $(basename "$zip"):"; cat "$dir/cpack.log"; return 1; }
  python3 - "$zip" "quorvel-$version-win64" <<'PY' || return 1
import stat, sys, zipfile
entries = zipfile.ZipFile(sys.argv[1]).infolist()
names = sorted(e.filename for e in entries if not e.is_dir())
expected = sorted(sys.argv[2] + "/" + n for n in
                  ["COPYING.txt", "quorvel.exe", "README.txt", "examples/soundcard.xml", "examples/usb_headset.xml"])
if names != expected:
    print("    the zip holds:", names)
    sys.exit(1)
wrong = []
for entry in entries:
    mode = entry.external_attr >> 16
    expected_mode = (0o40755 if entry.is_dir() else
                     0o100755 if entry.filename.endswith(".exe") else 0o100644)
    if mode != expected_mode:
        wrong.append(f"    {entry.filename}: {stat.filemode(mode)}, not {stat.filemode(expected_mode)}")
if wrong:
    print("\n".join(wrong))
    sys.exit(1)
PY
  python3 -m zipfile -e "$zip" "$dir/unpacked"
  local top=$dir/unpacked/quorvel-$version-win64
  sed 's/$/\r/' "$root/README.md" | cmp -s - "$top/README.txt" ||
    { echo "README.txt is not README.md with CR LF line ends"; return 1; }
  sed 's/$/\r/' "$root/cmake/windows/COPYING.txt" | cmp -s - "$top/COPYING.txt" ||
    { echo "COPYING.txt is not cmake/windows/COPYING.txt with CR LF line ends"; return 1; }
  cmp -s "$root/examples/soundcard.xml" "$top/examples/soundcard.xml" ||
    { echo "examples/soundcard.xml differs"; return 1; }
  local out
  out=$("$wine" "$top/quorvel.exe" --version 2>&1 | tr -d '\r')
  [ "$out" = "quorvel $version" ] || { echo "--version: $out"; return 1; }
  cp "$top/examples/soundcard.xml" "$dir/run-unpacked/device.xml"
  cp "$root/examples/soundcard.xml" "$dir/run-built/device.xml"
  (cd "$dir/run-unpacked" && QUORVEL_MIXER=sim:device.xml "$wine" "$top/quorvel.exe" \
     -out saved.xml >/dev/null 2>"$dir/run-unpacked/err") ||
    { echo "the unpacked program failed:"; cat "$dir/run-unpacked/err"; return 1; }
  (cd "$dir/run-built" && QUORVEL_MIXER=sim:device.xml "$wine" "$exe" -out saved.xml \
     >/dev/null 2>&1) || { echo "the built program failed"; return 1; }
  cmp "$dir/run-unpacked/saved.xml" "$dir/run-built/saved.xml"
}

case "$check" in
  no_mixer|save_wine_mixer|restore_wine_mixer|sim_saves_as_linux|sim_restores_as_linux|http_sources|\
  dripping_server|zip_package)
    "$check" ;;
  *) echo "no such check: $check" >&2; exit 2 ;;
esac
