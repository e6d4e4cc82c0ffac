#!/usr/bin/env bash
# Times quorvel against small reference programs and against amixer on the
# tests' virtual ALSA card (quorvel_laptop), pair by pair in one run, the
# commands of each comparison alternated (bench/timing.py):
#   start-up: quorvel with no arguments on a small simulated device (it
#             builds the snapshot, prints the usage text and exits), against
#             a trivial C program, a C++ hello world with iostream and
#             amixer --version
#   save:     quorvel -out saved.xml    against  amixer -D quorvel_laptop scontents > listing.txt
#   restore:  quorvel saved.xml         against  amixer -D quorvel_laptop -s < restore.txt
# Before every restore the card is changed (every element) with amixer -s,
# untimed; both restores bring back the same state, checked once.
# Prints the median of each command, its peak memory, and quorvel's time
# divided by the other's (the ratio); then how often one restore of each
# opens the card and writes a control (the virtual card's log).
#
# Usage: bench/alsa_vs_amixer.sh [BUILD_DIR] [RUNS] [BASELINE]
#   BUILD_DIR  a build of the project with its tests (default: build/)
#   RUNS       timed runs of each command (default: 50)
#   BASELINE   another build's quorvel, timed alongside in every comparison
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-50}
baseline=${3:+$(cd "$(dirname "$3")" && pwd)/$(basename "$3")}
quorvel=$build/quorvel
config=$build/tests/fakes/alsa_card/asound.conf
if [ ! -x "$quorvel" ] || [ ! -f "$config" ]; then
  echo "no quorvel or virtual card in $build: build the project with its tests first" >&2
  echo "(scripts/build $build)" >&2
  exit 1
fi
for tool in amixer python3 "${CC:-cc}" "${CXX:-c++}"; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps --tests)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quorvel-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
device=quorvel_laptop
export ALSA_CONFIG_PATH=$config
export QUORVEL_TEST_CARD_STATE=$work/card.state
export QUORVEL_MIXER=alsa:$device

# The reference programs, built as a user builds them (dynamically linked).
echo 'int main(void) { return 0; }' > trivial.c
printf '#include <iostream>\nint main() { std::cout << "hello\\n"; }\n' > hello.cc
"${CC:-cc}" -O2 -o trivial trivial.c
"${CXX:-c++}" -O2 -o hello hello.cc
cp "$root/examples/soundcard.xml" small-device.xml

# Every element of the card changed, and every element set back to the
# card's first state.
cat > changes.txt <<'EOF'
sset Master 9,17 mute
sset Headphone 5 unmute
sset Speaker 0 mute
sset PCM 100,120
sset 'Front Mic' 30 unmute
sset 'Mic Boost' 3
sset Line 31 unmute
sset CD 2 mute
sset Beep 20 mute
sset Capture 5,6 nocap
sset Line cap
cset name='Auto-Mute Mode' Disabled
EOF
cat > restore.txt <<'EOF'
sset Master 60,50 unmute
sset Headphone 70 mute
sset Speaker 87 unmute
sset PCM 255,200
sset 'Front Mic' 0 mute
sset 'Mic Boost' 1
sset Line 8 mute
sset CD 12,14 unmute
sset Beep 5 unmute
sset Capture 40,39 cap
sset Mic cap
cset name='Auto-Mute Mode' Enabled
EOF

"$quorvel" -out saved.xml 2>/dev/null
amixer -D "$device" scontents > first.txt
elements=$(grep -c '^Simple mixer control' first.txt)

# Both restores give the first state back.
amixer -q -D "$device" -s < changes.txt
"$quorvel" saved.xml 2>/dev/null
amixer -D "$device" scontents | cmp -s - first.txt || { echo "quorvel did not restore the card" >&2; exit 1; }
amixer -q -D "$device" -s < changes.txt
amixer -q -D "$device" -s < restore.txt
amixer -D "$device" scontents | cmp -s - first.txt || { echo "restore.txt does not restore the card" >&2; exit 1; }

# The baseline's lines in each comparison, when one is given.
also() { [ -z "$baseline" ] || echo "cmd baseline: $1 :: ${2//@PROGRAM@/$baseline}"; }

echo "Virtual ALSA card $device ($elements elements); $(nproc) cores, $(grep -m1 '^model name' /proc/cpuinfo | sed 's/.*: //')"
python3 "$root/bench/timing.py" <<EOF
runs $runs
warmup 3

group start-up
cmd quorvel, no arguments, small simulated device :: QUORVEL_MIXER=sim:small-device.xml $quorvel
cmd trivial C program :: ./trivial
cmd C++ hello world (iostream) :: ./hello
cmd amixer --version :: amixer --version
$(also "quorvel, no arguments" "QUORVEL_MIXER=sim:small-device.xml @PROGRAM@")

group save
cmd quorvel -out saved-again.xml :: $quorvel -out saved-again.xml
cmd amixer scontents > listing.txt :: amixer -D $device scontents >listing.txt
$(also "quorvel -out saved-again.xml" "@PROGRAM@ -out saved-again.xml")

group restore of $elements changed elements
prep amixer -q -D $device -s < changes.txt
cmd quorvel saved.xml :: $quorvel saved.xml
cmd amixer -s < restore.txt ($(wc -l < restore.txt) commands) :: amixer -q -D $device -s <restore.txt
$(also "quorvel saved.xml" "@PROGRAM@ saved.xml")
EOF

# How one restore of each touches the card, from the virtual card's log.
echo "card openings and control writes of one restore"
logged() {
  local label=$1
  shift
  amixer -q -D "$device" -s < changes.txt
  : > card.log
  QUORVEL_TEST_CARD_LOG=$work/card.log "$@" >/dev/null 2>&1 || true
  printf '  %-42s %3d openings %4d writes\n' "$label" "$(grep -c '^open' card.log)" \
    "$(grep -c '^write' card.log)"
}
logged "quorvel saved.xml" "$quorvel" saved.xml
logged "amixer -s < restore.txt" amixer -q -D "$device" -s < restore.txt
[ -z "$baseline" ] || logged "baseline: quorvel saved.xml" "$baseline" saved.xml
