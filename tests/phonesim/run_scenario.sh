#!/usr/bin/env bash
# Runs a phonesim scenario script and compares what it printed (standard output and error,
# then its exit status) with the expected output beside it. With UPDATE=1 it rewrites the
# expected output instead. A script line "# phonesim-args: ARGS" gives phonesim options (such
# as --dtb NAME.dtb); they run in DTB_DIR (the third argument), where the scenarios' device
# trees are compiled.
set -uo pipefail
phonesim=$(realpath "$1") script=$(realpath "$2") dtbdir=${3:-.}
expected=${script%.sh}.out
args=$(sed -n 's/^# phonesim-args: //p' "$script" | head -n 1)
# shellcheck disable=SC2086 # the options are words
actual=$(cd "$dtbdir" && "$phonesim" $args "$script" 2>&1; echo "[exit $?]")
if [ "${UPDATE:-0}" = 1 ]; then
  printf '%s\n' "$actual" > "$expected"
  exit 0
fi
if ! diff -u "$expected" <(printf '%s\n' "$actual"); then
  echo "scenario $(basename "$script") differs from $(basename "$expected")" >&2
  exit 1
fi
