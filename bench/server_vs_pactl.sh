#!/usr/bin/env bash
# Times quorvel against pactl on a private sound server, started here in a
# folder and a process group of its own as the tests' fixtures start them,
# holding SINKS null sinks: PipeWire (PipeWire, WirePlumber and its Pulse
# server), or with SERVER=pulseaudio PulseAudio (Debian's package as the
# tests unpack it into BUILD_DIR/tests/pulseaudio, with rlimit-nofile = 4096
# in its daemon.conf to hold 200 null sinks). The commands of each
# comparison are alternated (bench/timing.py):
#   save:              quorvel -out saved.xml  against  pactl list sinks, and pactl list sources
#   unchanged restore: quorvel saved.xml       against  the same two
#   changed restore:   quorvel saved.xml       against  SINKS pactl set-sink-volume calls
# Before every run of the changed restore, every sink is set to another
# volume, untimed. Prints the median of each command and the ratios the
# goals are stated in: quorvel's save and unchanged restore over the two
# lists together, and its changed restore over the SINKS calls.
#
# Usage: bench/server_vs_pactl.sh [BUILD_DIR] [RUNS] [SINKS] [BASELINE]
#   BUILD_DIR  a build of the project (default: build/)
#   RUNS       timed runs of each command (default: 20)
#   SINKS      null sinks on the server (default: 200)
#   BASELINE   another build's quorvel, timed alongside, with its ratios
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-20}
sinks=${3:-200}
baseline=${4:+$(cd "$(dirname "$4")" && pwd)/$(basename "$4")}
quorvel=$build/quorvel
[ -x "$quorvel" ] || { echo "no quorvel in $build (scripts/build $build)" >&2; exit 1; }
server=${SERVER:-pipewire}
case "$server" in
  pipewire) tools=(pipewire wireplumber pipewire-pulse pw-metadata dbus-run-session) ;;
  pulseaudio)
    tools=()
    "$root/tests/fakes/unpack_pulseaudio.sh" "$build/tests/pulseaudio"
    pulse_root=$build/tests/pulseaudio/root
    pulse_modules=$(echo "$pulse_root"/usr/lib/pulse-*/modules)
    ;;
  *) echo "SERVER is pipewire or pulseaudio" >&2; exit 2 ;;
esac
for tool in "${tools[@]}" pactl python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps --tests)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quorvel-bench.XXXXXX)
group=
stop() {
  [ -z "$group" ] || kill -TERM -- "-$group" 2>/dev/null || true
  sleep 0.5
  [ -z "$group" ] || kill -KILL -- "-$group" 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT
mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
export XDG_STATE_HOME=$work/home/.local/state QUORVEL_MIXER=pulse
unset PIPEWIRE_RUNTIME_DIR PULSE_SERVER DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
if [ "$server" = pipewire ]; then
  setsid dbus-run-session -- sh -c 'pipewire & sleep 1; wireplumber & pipewire-pulse & wait' \
    >"$work/daemons.log" 2>&1 &
  group=$!
  # The Pulse server answers before WirePlumber keeps the defaults.
  ready() { pw-metadata -n default 0 2>/dev/null | grep -q 'Found "default" metadata'; }
  version="PipeWire $(pipewire --version | sed -n 's/.*libpipewire //p' | head -1)"
else
  mkdir -p "$XDG_CONFIG_HOME/pulse"
  echo "rlimit-nofile = 4096" > "$XDG_CONFIG_HOME/pulse/daemon.conf"
  LD_LIBRARY_PATH=$pulse_root/usr/lib/x86_64-linux-gnu/pulseaudio:$pulse_modules \
    setsid "$pulse_root/usr/bin/pulseaudio" -n "--dl-search-path=$pulse_modules" \
    --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
    -L module-native-protocol-unix >"$work/daemons.log" 2>&1 &
  group=$!
  ready() { true; }
  version="PulseAudio $(LD_LIBRARY_PATH=$pulse_root/usr/lib/x86_64-linux-gnu/pulseaudio \
    "$pulse_root/usr/bin/pulseaudio" --version 2>/dev/null | sed 's/pulseaudio //')"
fi
for _ in $(seq 300); do
  if pactl info >/dev/null 2>&1 && ready; then break; fi
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { cat "$work/daemons.log" >&2; echo "the server did not start" >&2; exit 1; }

cd "$work"
for k in $(seq -w 1 "$sinks"); do
  pactl load-module module-null-sink "sink_name=bench_$k" >/dev/null
done
for _ in $(seq 300); do
  [ "$(pactl list short sinks | grep -c bench_)" -ge "$sinks" ] && break
  sleep 0.1
done
for k in $(seq -w 1 "$sinks"); do pactl set-sink-volume "bench_$k" 30000; done
"$quorvel" -out saved.xml 2>/dev/null
{ for k in $(seq -w 1 "$sinks"); do echo "pactl set-sink-volume bench_$k 30000"; done; } > restore.sh
{ for k in $(seq -w 1 "$sinks"); do echo "pactl set-sink-volume bench_$k 1000"; done; } > change.sh

echo "$version, $sinks null sinks;" \
  "$(nproc) cores, $(grep -m1 '^model name' /proc/cpuinfo | sed 's/.*: //')"
python3 - "$root/bench" "$runs" "$sinks" "$quorvel" $baseline <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
import timing

runs, sinks, programs = int(sys.argv[2]), sys.argv[3], sys.argv[4:]
names = ["quorvel", "baseline"]

def timed(name, commands, references, prep=None):
    """The programs' commands and the references, alternated; their medians."""
    group = [timing.Command(names[k] + " " + args, program + " " + args)
             for k, program in enumerate(programs) for args in [commands]] + references
    results = timing.time_group(group, runs, warmup=2, prep=prep)
    timing.print_group(name, results, runs)
    medians = [result.median for result in results]
    return medians[:len(programs)], medians[len(programs):]

lists = [timing.Command("pactl list sinks", "pactl list sinks"),
         timing.Command("pactl list sources", "pactl list sources")]
calls = [timing.Command("%s pactl set-sink-volume" % sinks, "sh restore.sh")]
save, save_lists = timed("save", "-out again.xml", lists)
unchanged, unchanged_lists = timed("unchanged restore", "saved.xml", lists)
changed, changed_calls = timed("restore of %s changed sinks" % sinks, "saved.xml", calls,
                               prep="sh change.sh")
print("ratios (goal):")
for k in range(len(programs)):
    print("  %s" % names[k])
    print("    save / (list sinks + list sources)              %5.2f (at most 1.0)"
          % (save[k] / sum(save_lists)))
    print("    unchanged restore / (list sinks + list sources) %5.2f (at most 1.0)"
          % (unchanged[k] / sum(unchanged_lists)))
    print("    changed restore / %s set-sink-volume calls     %5.2f (at most 0.2)"
          % (sinks, changed[k] / changed_calls[0]))
EOF
