# A memory service steers reclaim through vmassist: system-wide requests carried out by the
# module's thread, and reclaim inside one memory group that stops when the group is in front.
# Only this script's kernel messages, not the boot's.
dmesg -C
ls -l /proc/global_reclaim
cat /proc/global_reclaim
cat /proc/meminfo | grep -E '^(MemFree|Cached|AnonPages):'
# 512 pages of anonymous memory only: AnonPages goes down, Cached stays.
as zomd@2.0-servic echo 20000512 > /proc/global_reclaim
cat /proc/global_reclaim
echo
cat /proc/meminfo | grep -E '^(MemFree|Cached|AnonPages):'
# 100 pages of file memory only: Cached goes down, AnonPages stays.
echo 30000100 > /proc/global_reclaim
cat /proc/global_reclaim
echo
cat /proc/meminfo | grep -E '^(MemFree|Cached|AnonPages):'
# The wakeup source held during each pass, relaxed after it.
ls /sys/class/wakeup
cat /sys/class/wakeup/wakeup0/name /sys/class/wakeup/wakeup0/event_count
cat /sys/class/wakeup/wakeup0/active_count /sys/class/wakeup/wakeup0/active_time_ms
echo abc > /proc/global_reclaim
echo 0 > /proc/global_reclaim
# Reclaim inside one group, in the writing task.
mkdir /dev/memcg/demo
proc start demo_app demo
proc anon demo_app 2560
proc map demo_app /data/demo/lib.so 256
ls -l /dev/memcg/demo/memory.reclaim_once /dev/memcg/demo/memory.process_fg
cat /dev/memcg/demo/memory.stat
as zomd@2.0-servic echo 20000256 > /dev/memcg/demo/memory.reclaim_once
cat /dev/memcg/demo/memory.stat
echo 1 > /dev/memcg/demo/memory.process_fg
echo ' 300 ' > /dev/memcg/demo/memory.reclaim_once
echo abc > /dev/memcg/demo/memory.process_fg
dmesg
