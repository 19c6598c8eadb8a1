# Sourced by the mount tests (/bin/sh), which take phonesim's path as their argument: boots a
# phone mounted on a fresh directory, runs the test's commands against it, and checks what they
# print. Usage in a test:
#   phone_args=OPTIONS  # phonesim's options beside --mount, if any
#   . "$(dirname "$0")/lib.sh"
# then $mnt is the mount, phone_shell runs phonesim shell commands (standard input) through
# --attach, check compares, and finish unmounts and reports.
phonesim=$(realpath "$1")
phone_args=${phone_args:-}

if ! [ -c /dev/fuse ] || ! [ -r /dev/fuse ] || ! [ -w /dev/fuse ] ||
    ! command -v fusermount3 > /dev/null; then
  echo "skipped: /dev/fuse not usable"
  exit 77
fi

work=$(mktemp -d)
mnt=$work/phone
mkdir "$mnt"
log=$work/phonesim.log
failures=0
phone_pid=

cleanup() {
  if [ -n "$phone_pid" ] && kill -0 "$phone_pid" 2> /dev/null; then
    fusermount3 -u -z "$mnt" 2> /dev/null
    kill "$phone_pid" 2> /dev/null
    wait "$phone_pid" 2> /dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Starts phonesim --mount with standard input from $1 (default /dev/null) and waits until the
# phone's files are there. A mount refused by the host is a skip, not a failure.
start_phone() {
  # shellcheck disable=SC2086 # the options are words
  "$phonesim" $phone_args --mount "$mnt" < "${1:-/dev/null}" > "$log" 2>&1 &
  phone_pid=$!
  tries=0
  while ! [ -e "$mnt/proc/meminfo" ]; do
    if ! kill -0 "$phone_pid" 2> /dev/null; then
      wait "$phone_pid"
      if grep -q "cannot mount\|/dev/fuse" "$log"; then
        echo "skipped: /dev/fuse not usable ($(cat "$log"))"
        exit 77
      fi
      echo "phonesim --mount ended before mounting:" >&2
      cat "$log" >&2
      exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ]; then
      echo "phonesim --mount did not mount in a minute" >&2
      exit 1
    fi
    sleep 0.1
  done
}

# Runs phonesim shell commands (standard input) on the mounted phone.
phone_shell() {
  "$phonesim" --attach "$mnt"
}

# check NAME ACTUAL EXPECTED
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1"
    echo "--- expected"
    printf '%s\n' "$3"
    echo "--- actual"
    printf '%s\n' "$2"
    failures=$((failures + 1))
  fi
}

# Unmounts, waits for phonesim to shut the phone down, and exits with the tests' result.
finish() {
  fusermount3 -u "$mnt"
  wait "$phone_pid"
  status=$?
  phone_pid=
  check "phonesim ends with status 0 when unmounted" "$status" 0
  [ "$failures" -eq 0 ]
  exit $?
}
