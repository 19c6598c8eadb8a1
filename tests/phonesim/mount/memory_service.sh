#!/bin/sh
# A memory service written for a device, run unchanged with /bin/sh against the mount: it
# reads the memory state, asks vmassist for system-wide reclaim, and squeezes the groups in the
# background with reclaim inside each group.
phone_args=--virtual-time
. "$(dirname "$0")/lib.sh"
start_phone
phone_shell << 'SH'
mkdir /dev/memcg/background
proc start cached_app background
proc anon cached_app 2560
SH

cat > "$work/memory_service.sh" << 'SCRIPT'
#!/bin/sh
# Usage: memory_service.sh ROOT (/ on a device)
root=$1
kb() { awk -v k="$1:" '$1 == k {print $2}' "$root/proc/meminfo"; }
echo "MemFree $(kb MemFree) kB, AnonPages $(kb AnonPages) kB"
# 512 pages of anonymous memory, by the module's reclaim thread.
echo 20000512 > "$root/proc/global_reclaim" || exit 1
echo "global: $(cat "$root/proc/global_reclaim")"
echo "MemFree $(kb MemFree) kB, AnonPages $(kb AnonPages) kB"
for group in "$root"/dev/memcg/*/; do
  [ -w "$group/memory.reclaim_once" ] || continue
  name=$(basename "$group")
  before=$(awk '$1 == "rss" {print $2}' "$group/memory.stat")
  echo 20000256 > "$group/memory.reclaim_once"
  after=$(awk '$1 == "rss" {print $2}' "$group/memory.stat")
  echo "$name: rss $before -> $after"
done
# A request the module refuses.
echo 20000512x > "$root/proc/global_reclaim" 2> /dev/null || echo "refused, status $?"
SCRIPT

check "the memory service's round" "$(/bin/sh "$work/memory_service.sh" "$mnt" 2>&1)" \
  "MemFree 4359168 kB, AnonPages 2893824 kB
global: reclaim 566 pages
MemFree 4360692 kB, AnonPages 2891560 kB
apps: rss 0 -> 0
background: rss 10485760 -> 9433088
system: rss 678903808 -> 677675008
refused, status 1"
finish
