#!/usr/bin/env bash
# The fleet example as an administrator runs it: examples/ansible/playbook.yml
# through ansible-playbook (connection local) against an inventory of 20
# hosts, each its own simulated device, half of them drifted from the
# profile. The first run changes exactly the drifted hosts, a second run
# changes nothing, and a --check --diff run on freshly drifted devices
# writes no device file and reports each drifted host with its differences.
# Usage: ansible_test.sh QUORVEL SOURCE_DIR
set -euo pipefail
quorvel=$1
source_dir=$2
if ! command -v ansible-playbook >/dev/null; then
  echo "ansible-playbook is not installed (Debian package ansible-core); skipped"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Ansible keeps its temporary files and its settings under the home folder.
export HOME=$work ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp
# Each host's result is kept as a file of its own (the tree callback); the
# recap at the end of the output says which hosts changed.
export ANSIBLE_CALLBACKS_ENABLED=tree ANSIBLE_CALLBACK_TREE_DIR=$work/results
export ANSIBLE_FORKS=5 ANSIBLE_NOCOLOR=1
unset QUORVEL_MIXER
hosts=20

cp "$source_dir/examples/soundcard.xml" "$work/pristine.xml"
QUORVEL_MIXER=sim:$work/pristine.xml "$quorvel" -out "$work/profile.xml" 2>/dev/null
# A drifted device: its master volume turned down and its wave source muted.
sed -e 's|Master Volume<value ch="1">45875<|Master Volume<value ch="1">1000<|' \
    -e 's|Wave Mute<value>0<|Wave Mute<value>1<|' "$work/pristine.xml" >"$work/drift.xml"
cmp -s "$work/pristine.xml" "$work/drift.xml" && { echo "the drift changed nothing"; exit 1; }

{
  echo "[fleet]"
  for ((h = 1; h <= hosts; ++h)); do
    printf 'host%02d quorvel_mixer=sim:%s/host%02d.xml\n' "$h" "$work" "$h"
  done
  echo "[fleet:vars]"
  echo "ansible_connection=local"
  echo "ansible_python_interpreter=/usr/bin/python3"
  echo "quorvel_profile=$work/profile.xml"
  echo "quorvel_bin=$quorvel"
} >"$work/inventory.ini"

drifted=()
for ((h = 1; h <= hosts; ++h)); do
  cp "$work/pristine.xml" "$(printf '%s/host%02d.xml' "$work" "$h")"
done
drift() {  # drifts the odd hosts
  drifted=()
  for ((h = 1; h <= hosts; h += 2)); do
    QUORVEL_MIXER=sim:$(printf '%s/host%02d.xml' "$work" "$h") "$quorvel" "$work/drift.xml" 2>/dev/null
    drifted+=("$(printf 'host%02d' "$h")")
  done
}

# Runs the playbook from another working folder; prints the hosts it reports
# changed, one per line, sorted, and fails when any host failed.
playbook() {
  rm -rf "$work/results"
  mkdir -p "$work/tmp"
  (cd "$work/tmp" && ansible-playbook -i "$work/inventory.ini" "$source_dir/examples/ansible/playbook.yml" "$@") \
    >"$work/run.out" 2>&1 || { cat "$work/run.out"; return 1; }
  python3 - "$work/run.out" "$hosts" <<'PY'
import re, sys
recap = dict(re.findall(r"^(host\d+)\s*:\s*(.*)$", open(sys.argv[1]).read(), re.M))
if len(recap) != int(sys.argv[2]):
    sys.exit("the recap names %d hosts: %s" % (len(recap), open(sys.argv[1]).read()))
for host, counts in sorted(recap.items()):
    counts = dict(re.findall(r"(\w+)=(\d+)", counts))
    if counts["failed"] != "0" or counts["unreachable"] != "0":
        sys.exit("%s failed: %s" % (host, open(sys.argv[1]).read()))
    if counts["changed"] != "0":
        print(host)
PY
}

expected() { printf '%s\n' "${drifted[@]}"; }
device_sums() { sha256sum "$work"/host*.xml; }

drift
changed=$(playbook)
[ "$changed" = "$(expected)" ] || { echo "first run changed: $changed"; exit 1; }
for ((h = 1; h <= hosts; ++h)); do
  QUORVEL_MIXER=sim:$(printf '%s/host%02d.xml' "$work" "$h") "$quorvel" --dry-run "$work/profile.xml" \
    >/dev/null 2>&1 || { echo "host $h does not match the profile after the run"; exit 1; }
done

changed=$(playbook)
[ -z "$changed" ] || { echo "second run changed: $changed"; exit 1; }

drift
before=$(device_sums)
changed=$(playbook --check --diff)
[ "$changed" = "$(expected)" ] || { echo "check run reported: $changed"; exit 1; }
[ "$(device_sums)" = "$before" ] || { echo "check run wrote a device file"; exit 1; }
# Each drifted host's preview is its diff; the hosts that match show none.
python3 - "$work/results" "$work/run.out" "${#drifted[@]}" <<'PY'
import json, os, sys
line = 'change: "Speakers" / "Master Volume" ch 1: 1000 -> 45875'
for host in sorted(os.listdir(sys.argv[1])):
    result = json.load(open(os.path.join(sys.argv[1], host)))
    odd = int(host[4:]) % 2 == 1
    if odd != (line in result.get("preview", [])) or odd != result.get("changed"):
        sys.exit("%s: %r" % (host, result))
shown = open(sys.argv[2]).read().count(line)
if shown != int(sys.argv[3]):
    sys.exit("the diff shows the change %d times:\n%s" % (shown, open(sys.argv[2]).read()))
PY
# A host whose preview fails (here: its profile is missing) fails.
printf 'broken ansible_connection=local ansible_python_interpreter=/usr/bin/python3 quorvel_mixer=sim:%s/host01.xml quorvel_profile=%s/missing.xml quorvel_bin=%s\n' \
  "$work" "$work" "$quorvel" >"$work/broken.ini"
if (cd "$work/tmp" && ansible-playbook -i "$work/broken.ini" "$source_dir/examples/ansible/playbook.yml") \
     >"$work/run.out" 2>&1 || ! grep -Eq '^broken +:.* failed=1' "$work/run.out"; then
  echo "a failed preview did not fail its host:"; cat "$work/run.out"; exit 1
fi
grep -q 'could not preview' "$work/run.out" || { cat "$work/run.out"; exit 1; }

echo "ansible fleet: $hosts hosts, ${#drifted[@]} drifted; 3 runs as expected"
