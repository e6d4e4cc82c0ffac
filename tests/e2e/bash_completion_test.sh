#!/usr/bin/env bash
# The bash completion of quorvel (argument 1), loaded under bash-completion
# as an interactive shell has it, completing command lines in a folder that
# holds a document, another file, a folder and a file named like an option.
# Each case: the line before the cursor, and the words offered, sorted.
# Exits 77 (skipped) without bash-completion.
set -euo pipefail
completion=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
helpers=/usr/share/bash-completion/bash_completion
[ -f "$helpers" ] || { echo "skipped: bash-completion is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/sub"
touch "$work/mixer.xml" "$work/notes.txt" "$work/-odd.xml"

failures=0
while IFS='|' read -r line expected; do
  got=$(cd "$work" && LC_ALL=C bash --norc --noprofile -c '
    source "$1" && source "$2" || exit 1
    read -ra COMP_WORDS <<<"$3"
    [[ $3 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$3 COMP_POINT=${#3}
    _quorvel quorvel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " " -' bash "$helpers" "$completion" "$line")
  if [ "$got" != "$expected" ]; then
    echo "FAILED: \"$line\" offers [$got], expected [$expected]"
    failures=$((failures + 1))
  fi
done <<'EOF'
quorvel --s|--show
quorvel --u|--url --utf8
quorvel --d|--diff --dry-run
quorvel -o|-out
quorvel -|-- --diff --dry-run --follow --help --local --out --show --tree --url --utf8 --version -? -d -h -local -n -out -t -url
quorvel |mixer.xml sub
quorvel -out |mixer.xml sub
quorvel -o m|mixer.xml
quorvel -local |mixer.xml sub
quorvel -t |mixer.xml sub
quorvel -n -local |mixer.xml sub
quorvel --show |mixer.xml sub
quorvel --follow |mixer.xml sub
quorvel -url |
quorvel -url -out |mixer.xml sub
quorvel --version |
quorvel -- -|-odd.xml
EOF

[ "$failures" -eq 0 ] && echo "bash completion: every case passed"
