#!/bin/sh
# The ways a mounted phone stops: `exit` in its shell on standard input, SIGTERM (as Ctrl-C's
# SIGINT), and unmounting. Each shuts the phone down, so the mount is gone when phonesim ends.
phone_args=--virtual-time
. "$(dirname "$0")/lib.sh"

mounted() { grep -q " $mnt fuse" /proc/mounts; }

mkfifo "$work/input"
exec 3<> "$work/input"
start_phone "$work/input"
echo "cat /proc/global_reclaim; exit 3" >&3
wait "$phone_pid"
check "exit in the shell on standard input" "$(echo "status $?"; mounted && echo mounted)" \
  "status 3"
exec 3>&-

start_phone
kill -TERM "$phone_pid"
wait "$phone_pid"
check "SIGTERM" "$(echo "status $?"; mounted && echo mounted)" "status 0"

start_phone
# Standard input that ends (not a terminal) leaves the mount serving.
check "end of input leaves the mount" "$(head -c 8 "$mnt/proc/meminfo")" "MemTotal"
finish
