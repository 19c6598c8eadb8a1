# Anonymous pages swapped out to zram and back, and file pages read again after reclaim: the
# counters a memory service reads move together.
cat /sys/block/zram0/disksize
cat /sys/block/zram0/mm_stat /sys/block/zram0/io_stat
mkdir /dev/memcg/demo
proc start demo_app demo
proc anon demo_app 2048
proc map demo_app /data/demo/assets.bin 256
proc map -x demo_app /data/demo/libdemo.so 64
# 1024 anonymous pages out: each leaves a compressed copy, about a third of a page, in zram.
as zomd@2.0-servic echo 20001024 > /dev/memcg/demo/memory.reclaim_once
cat /dev/memcg/demo/memory.stat | grep -E '^(rss|swap|inactive_anon|active_anon) '
cat /sys/block/zram0/mm_stat /sys/block/zram0/io_stat
cat /proc/vmstat | grep -E '^(pswp(in|out)|workingset_(refault|activate)_anon|pgs(can|teal)_anon) '
# The process touches its heap again: the swapped pages come back from zram, recently
# evicted ones straight onto the active list, and their slots and copies are freed.
proc touch demo_app 2048
cat /dev/memcg/demo/memory.stat | grep -E '^(rss|swap|inactive_anon|active_anon|pgmajfault) '
cat /sys/block/zram0/mm_stat /sys/block/zram0/io_stat
cat /proc/vmstat | grep -E '^(pswp(in|out)|workingset_(refault|activate)_anon) '
# File pages: the mapped code is activated on its first reference and stays, the data goes.
as zomd@2.0-servic echo 30000256 > /dev/memcg/demo/memory.reclaim_once
cat /dev/memcg/demo/memory.stat | grep -E '^(cache|mapped_file|inactive_file|active_file) '
vm file /data/demo/libdemo.so 0
proc touch demo_app /data/demo/assets.bin 256
cat /dev/memcg/demo/memory.stat | grep -E '^(cache|mapped_file|inactive_file|active_file) '
cat /proc/vmstat | grep -E '^workingset_(refault|activate)_file '
# Swap out again, then the process exits: its slots are freed and zram is empty again.
as zomd@2.0-servic echo 20000512 > /dev/memcg/demo/memory.reclaim_once
cat /sys/block/zram0/mm_stat
proc stop demo_app
cat /sys/block/zram0/mm_stat /sys/block/zram0/io_stat
cat /dev/memcg/demo/memory.stat | grep -E '^(rss|swap) '
