#!/usr/bin/env bash
# The cards script that the boot-time units run, as `cmake --install` makes
# it from a build folder (argument 1), over a made-up /proc/asound of three
# cards and a stand-in for quorvel that logs how it is called and fails for
# the card named in FAIL_CARD. Each case: the action, the saved documents
# present before, the failing card; then the exit status, the calls and the
# documents it wrote.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --component program --prefix "$work/prefix" >/dev/null
cards=$work/prefix/libexec/quorvel/quorvel-cards
for card in 0:PCH 1:USB 2:HDMI; do
  mkdir -p "$work/asound/card${card%%:*}"
  echo "${card#*:}" >"$work/asound/card${card%%:*}/id"
done
cat >"$work/quorvel" <<'EOF'
#!/usr/bin/env bash
echo "$QUORVEL_MIXER $*" >>"$CALLS"
[ "$QUORVEL_MIXER" != "alsa:hw:$FAIL_CARD" ] || exit 1
if [ "$1" = -out ]; then echo saved >"$2"; fi
EOF
chmod +x "$work/quorvel"

failures=0
# action | documents before | failing card | status | calls | documents after
while IFS='|' read -r action before fail status calls after; do
  rm -rf "$work/state" && mkdir "$work/state"
  for id in $before; do echo old >"$work/state/$id.xml"; done
  : >"$work/calls"
  got_status=0
  out=$(CALLS=$work/calls FAIL_CARD=$fail QUORVEL_PROGRAM=$work/quorvel \
        QUORVEL_ASOUND_DIR=$work/asound STATE_DIRECTORY=$work/state:$work/other \
        "$cards" "$action" 2>&1) || got_status=$?
  got_calls=$(sed "s|$work/state/||g" "$work/calls" | sort | paste -sd ';' -)
  got_after=$(cd "$work/state" && { grep -lx saved -- *.xml 2>/dev/null || true; } | sort | paste -sd ' ' -)
  if [ "$got_status" != "$status" ] || [ "$got_calls" != "$calls" ] ||
     [ "$got_after" != "$after" ]; then
    echo "FAILED: $action with [$before], $fail failing"
    echo "  status $got_status, expected $status"
    echo "  calls  $got_calls"
    echo "  expected $calls"
    echo "  written [$got_after], expected [$after]"
    printf '  said: %s\n' "$out"
    failures=$((failures + 1))
  fi
done <<'EOF'
restore|PCH USB HDMI||0|alsa:hw:HDMI -- HDMI.xml;alsa:hw:PCH -- PCH.xml;alsa:hw:USB -- USB.xml|
restore|PCH HDMI|PCH|1|alsa:hw:HDMI -- HDMI.xml;alsa:hw:PCH -- PCH.xml|
restore|||0||
save|PCH||0|alsa:hw:HDMI -out HDMI.xml;alsa:hw:PCH -out PCH.xml;alsa:hw:USB -out USB.xml|HDMI.xml PCH.xml USB.xml
save||USB|1|alsa:hw:HDMI -out HDMI.xml;alsa:hw:PCH -out PCH.xml;alsa:hw:USB -out USB.xml|HDMI.xml PCH.xml
EOF

# A card left alone says so, naming its document; a failing one too.
rm -rf "$work/state" && mkdir "$work/state" && echo old >"$work/state/USB.xml"
out=$(QUORVEL_PROGRAM=$work/quorvel QUORVEL_ASOUND_DIR=$work/asound STATE_DIRECTORY=$work/state \
      CALLS=/dev/null FAIL_CARD=USB "$cards" restore 2>&1) || true
for line in "card PCH: nothing saved in $work/state/PCH.xml, left as it is" \
            "card USB: the restore from $work/state/USB.xml failed" "1 of 3 cards failed"; do
  grep -qxF "quorvel-cards: $line" <<<"$out" ||
    { echo "FAILED: no line \"$line\" in:"; echo "$out"; failures=$((failures + 1)); }
done

# An id that cannot name a file is refused, not used as a path; a wrong
# action is a usage error.
echo .. >"$work/asound/card1/id"
status=0
QUORVEL_PROGRAM=$work/quorvel QUORVEL_ASOUND_DIR=$work/asound STATE_DIRECTORY=$work/state \
  CALLS=$work/calls FAIL_CARD='' "$cards" save >/dev/null 2>&1 || status=$?
if [ "$status" -ne 1 ] || grep -q 'hw:\.\.' "$work/calls"; then
  echo "FAILED: the id .. was used (status $status)"
  failures=$((failures + 1))
fi
status=0
"$cards" store >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "FAILED: 'store' gave status $status"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "quorvel-cards: every case passed"
