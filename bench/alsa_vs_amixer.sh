#!/usr/bin/env bash
# Times quorvel against amixer on the tests' virtual ALSA card
# (quorvel_laptop), side by side in one run:
#   save:    quorvel -out saved.xml     against  amixer -D quorvel_laptop scontents
#   restore: quorvel saved.xml          against  the same restore fed to amixer -s
# Before every restore the card is changed (every element) with amixer -s,
# untimed; both restores bring back the same state, checked once.
#
# Usage: bench/alsa_vs_amixer.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a build of the project with its tests (default: build/)
#   RUNS       runs of each command (default: 50)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-50}
quorvel=$build/quorvel
config=$build/tests/fakes/alsa_card/asound.conf
if [ ! -x "$quorvel" ] || [ ! -f "$config" ]; then
  echo "no quorvel or virtual card in $build: build the project with its tests first" >&2
  echo "(scripts/build $build)" >&2
  exit 1
fi
command -v amixer >/dev/null || { echo "amixer is missing (Debian package alsa-utils)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
device=quorvel_laptop
export ALSA_CONFIG_PATH=$config
export QUORVEL_TEST_CARD_STATE=$work/card.state
export QUORVEL_MIXER=alsa:$device

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

# Both restores give the first state back.
amixer -q -D "$device" -s < changes.txt
"$quorvel" saved.xml 2>/dev/null
amixer -D "$device" scontents | cmp -s - first.txt || { echo "quorvel did not restore the card" >&2; exit 1; }
amixer -q -D "$device" -s < changes.txt
amixer -q -D "$device" -s < restore.txt
amixer -D "$device" scontents | cmp -s - first.txt || { echo "restore.txt does not restore the card" >&2; exit 1; }

now() { date +%s%N; }

# Runs "$@" RUNS times; prints the mean in microseconds.
time_runs() {
  local start end
  start=$(now)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(now)
  echo $(((end - start) / runs / 1000))
}

# The same for a restore: the card is changed before each run, untimed.
time_restores() {
  local total=0 start end
  for ((i = 0; i < runs; i++)); do
    amixer -q -D "$device" -s < changes.txt
    start=$(now)
    "$@" >/dev/null 2>&1
    end=$(now)
    total=$((total + end - start))
  done
  echo $((total / runs / 1000))
}

amixer_restore() { amixer -q -D "$device" -s < restore.txt; }

# The program's own start-up, which every quorvel run pays: a setting it
# refuses before it touches any mixer.
startup_quorvel=$(QUORVEL_MIXER=none time_runs "$quorvel" -out)
save_quorvel=$(time_runs "$quorvel" -out saved-again.xml)
save_amixer=$(time_runs amixer -D "$device" scontents)
restore_quorvel=$(time_restores "$quorvel" saved.xml)
restore_amixer=$(time_restores amixer_restore)

echo "Virtual ALSA card $device ($(grep -c '^Simple mixer control' first.txt) elements), $runs runs each, mean per run:"
awk -v st="$startup_quorvel" -v sq="$save_quorvel" -v sa="$save_amixer" -v rq="$restore_quorvel" -v ra="$restore_amixer" 'BEGIN {
  printf "  %-8s %-28s %9.2f ms   %-32s %9.2f ms   ratio %5.2f\n", "save", "quorvel -out saved.xml", sq / 1000, "amixer scontents", sa / 1000, sq / sa
  printf "  %-8s %-28s %9.2f ms   %-32s %9.2f ms   ratio %5.2f\n", "restore", "quorvel saved.xml", rq / 1000, "amixer -s (12 commands)", ra / 1000, rq / ra
  printf "  %-8s %-28s %9.2f ms   (included in both quorvel figures)\n", "start-up", "quorvel, no mixer touched", st / 1000
}'
