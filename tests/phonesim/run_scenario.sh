#!/usr/bin/env bash
# Runs a phonesim scenario script and compares what it printed (standard output and error,
# then its exit status) with the expected output beside it. With UPDATE=1 it rewrites the
# expected output instead.
set -uo pipefail
phonesim=$1 script=$2
expected=${script%.sh}.out
actual=$("$phonesim" "$script" 2>&1; echo "[exit $?]")
if [ "${UPDATE:-0}" = 1 ]; then
  printf '%s\n' "$actual" > "$expected"
  exit 0
fi
if ! diff -u "$expected" <(printf '%s\n' "$actual"); then
  echo "scenario $(basename "$script") differs from $(basename "$expected")" >&2
  exit 1
fi
