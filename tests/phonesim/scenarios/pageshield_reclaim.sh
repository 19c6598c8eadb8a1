# A memory service reclaims a background app group, with and without protection. Twenty
# processes of the group map one library (so its pages are widely mapped); the group also has
# page cache nobody maps.
mkdir /dev/memcg/demo
proc start demo01 demo
proc map demo01 /data/app/demo/lib.so 64
proc start demo02 demo
proc map demo02 /data/app/demo/lib.so 64
proc start demo03 demo
proc map demo03 /data/app/demo/lib.so 64
proc start demo04 demo
proc map demo04 /data/app/demo/lib.so 64
proc start demo05 demo
proc map demo05 /data/app/demo/lib.so 64
proc start demo06 demo
proc map demo06 /data/app/demo/lib.so 64
proc start demo07 demo
proc map demo07 /data/app/demo/lib.so 64
proc start demo08 demo
proc map demo08 /data/app/demo/lib.so 64
proc start demo09 demo
proc map demo09 /data/app/demo/lib.so 64
proc start demo10 demo
proc map demo10 /data/app/demo/lib.so 64
proc start demo11 demo
proc map demo11 /data/app/demo/lib.so 64
proc start demo12 demo
proc map demo12 /data/app/demo/lib.so 64
proc start demo13 demo
proc map demo13 /data/app/demo/lib.so 64
proc start demo14 demo
proc map demo14 /data/app/demo/lib.so 64
proc start demo15 demo
proc map demo15 /data/app/demo/lib.so 64
proc start demo16 demo
proc map demo16 /data/app/demo/lib.so 64
proc start demo17 demo
proc map demo17 /data/app/demo/lib.so 64
proc start demo18 demo
proc map demo18 /data/app/demo/lib.so 64
proc start demo19 demo
proc map demo19 /data/app/demo/lib.so 64
proc start demo20 demo
proc map demo20 /data/app/demo/lib.so 64
as demo01 file read /data/demo/cache.bin 1024
cat /dev/memcg/demo/memory.usage_in_bytes
vm file /data/app/demo/lib.so 0
# Protected: reclaim takes the cache and leaves the library, however often it is asked.
echo 2048 > /dev/memcg/demo/memory.reclaim_once
echo 2048 > /dev/memcg/demo/memory.reclaim_once
echo 2048 > /dev/memcg/demo/memory.reclaim_once
cat /dev/memcg/demo/memory.usage_in_bytes
vm file /data/app/demo/lib.so 0
vm file /data/demo/cache.bin 0
cat /proc/zo_mapped_protect_show
# Without protection the library goes like any other page once its references are used up.
echo 0 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
echo 2048 > /dev/memcg/demo/memory.reclaim_once
echo 2048 > /dev/memcg/demo/memory.reclaim_once
echo 2048 > /dev/memcg/demo/memory.reclaim_once
cat /dev/memcg/demo/memory.usage_in_bytes
vm file /data/app/demo/lib.so 0
