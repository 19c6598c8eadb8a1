# The default phone's memory at boot, and workloads that change it.
cat /proc/meminfo
ls /dev/memcg
ls /dev/memcg/system
cat /dev/memcg/memory.usage_in_bytes
# A process in a group of its own: 10 MiB of heap, then 1 MiB of a mapped file.
mkdir /dev/memcg/demo
proc start demo_app demo
cat /dev/memcg/demo/tasks
proc anon demo_app 2560
cat /dev/memcg/demo/memory.usage_in_bytes
proc map demo_app /data/demo/lib.so 256
file read /data/demo/log.txt 100
cat /proc/meminfo | grep -E '^(MemFree|Cached|AnonPages|Mapped):'
cat /dev/memcg/demo/memory.stat
vm page 0
vm file /data/demo/lib.so 0
# Framework code is mapped by every process forked from zygote.
vm file /system/framework/framework.jar 0
# The process exits: its heap goes, the page cache of its file stays, charged to the group.
proc stop demo_app
cat /proc/meminfo | grep -E '^(MemFree|Cached|AnonPages|Mapped):'
cat /dev/memcg/demo/memory.usage_in_bytes
rmdir /dev/memcg/demo
proc anon nobody 1
proc start demo_app nogroup
vm page 99999999
vm file /data/demo/lib.so 999
