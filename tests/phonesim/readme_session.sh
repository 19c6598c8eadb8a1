#!/usr/bin/env bash
# Checks that the README shows the example session as it runs: the ```sh block after the
# marker "<!-- session: PATH.sh -->" must be PATH.sh without its comment lines, and the ```
# block after "<!-- output: PATH.out -->" must be PATH.out without its closing status line
# (which the scenario test checks).
#   readme_session.sh README.md REPO_ROOT
set -uo pipefail
readme=$1 root=$2

# The fenced block that follows the marker line.
block() {
    awk -v marker="$1" '
        $0 == marker { found = 1; next }
        found == 1 && /^```/ { found = 2; next }
        found == 2 && /^```$/ { exit }
        found == 2 { print }
    ' "$readme"
}

status=0
if ! grep -q '^<!-- session: ' "$readme" || ! grep -q '^<!-- output: ' "$readme"; then
    echo "README.md: no example session" >&2
    exit 1
fi
while read -r kind path; do
    case $kind in
    session) want=$(grep -v '^#' "$root/$path") ;;
    output) want=$(sed '$d' "$root/$path") ;;
    esac
    if ! diff -u <(printf '%s\n' "$want") <(block "<!-- $kind: $path -->"); then
        echo "README.md: the $kind block of $path differs from the file" >&2
        status=1
    fi
done < <(sed -n 's/^<!-- \(session\|output\): \(.*\) -->$/\1 \2/p' "$readme")
exit $status
