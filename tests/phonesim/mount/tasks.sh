#!/bin/sh
# Each host process that uses the mount is a task on the phone, named as the process is and
# with its user: the phone's `ps` lists it, and vmassist's scan-type probe, which steers reclaim
# in tasks named "sh", sees "sh" when sh writes a group's reclaim request and not when python3
# does.
phone_args=--virtual-time
. "$(dirname "$0")/lib.sh"
start_phone

# A program that has read a node and waits: its task is on the phone's task list until it has
# exited and another process calls.
cp "$(command -v cat)" "$work/probe-reader"
mkfifo "$work/hold" "$work/out"
echo > "$work/newline"
"$work/probe-reader" "$mnt/proc/kswapd_pid" "$work/newline" - < "$work/hold" > "$work/out" &
reader=$!
exec 4> "$work/hold"
read -r kswapd < "$work/out"
listed() { echo ps | phone_shell | awk '$NF == "probe-reader" {print $2, $3, $4}'; }
check "a reading program is a task named after it" "$kswapd $(listed)" "61 - 0-7 probe-reader"
exec 4>&-
wait "$reader"
cat "$mnt/proc/meminfo" > /dev/null
check "its task has gone with it" "$(listed)" ""

# A group with 10 MiB of heap and 1 MiB of a mapped file.
phone_shell << 'SH'
mkdir /dev/memcg/demo
proc start demo_app demo
proc anon demo_app 2560
proc map demo_app /data/demo/lib.so 256
SH
stat=$mnt/dev/memcg/demo/memory.stat
check "the group before reclaim" "$(grep -E '^(cache|rss) ' "$stat")" "cache 1048576
rss 10485760"
# 128 pages, anonymous only: python3 is not a task the probe steers, so reclaim keeps the
# kernel's own balance and takes the file pages.
python3 -c "open('$mnt/dev/memcg/demo/memory.reclaim_once', 'w').write('20000128')"
check "reclaim in python3's task" "$(grep -E '^(cache|rss) ' "$stat")" "cache 397312
rss 10485760"
# The same request from sh: anonymous pages only.
sh -c "echo 20000128 > $mnt/dev/memcg/demo/memory.reclaim_once"
check "reclaim in sh's task" "$(grep -E '^(cache|rss) ' "$stat")" "cache 397312
rss 9916416"

# A user that is not root is a task with its uid: the root-only node refuses it, as the
# kernel's permission check of its credentials does.
check "nobody's task" "$(setpriv --reuid=65534 --regid=65534 --clear-groups \
  sh -c "cat $mnt/proc/kswapd_pid" 2>&1)" "cat: $mnt/proc/kswapd_pid: Permission denied"

finish
