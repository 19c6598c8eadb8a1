# Apps that map one shared library: its pages count once 20 processes map them.
# The report before: the framework and native libraries of the boot population.
cat /proc/zo_mapped_protect_show
proc start demo01
proc map demo01 /data/app/demo/lib.so 64
proc start demo02
proc map demo02 /data/app/demo/lib.so 64
proc start demo03
proc map demo03 /data/app/demo/lib.so 64
proc start demo04
proc map demo04 /data/app/demo/lib.so 64
proc start demo05
proc map demo05 /data/app/demo/lib.so 64
proc start demo06
proc map demo06 /data/app/demo/lib.so 64
proc start demo07
proc map demo07 /data/app/demo/lib.so 64
proc start demo08
proc map demo08 /data/app/demo/lib.so 64
proc start demo09
proc map demo09 /data/app/demo/lib.so 64
proc start demo10
proc map demo10 /data/app/demo/lib.so 64
proc start demo11
proc map demo11 /data/app/demo/lib.so 64
proc start demo12
proc map demo12 /data/app/demo/lib.so 64
proc start demo13
proc map demo13 /data/app/demo/lib.so 64
proc start demo14
proc map demo14 /data/app/demo/lib.so 64
proc start demo15
proc map demo15 /data/app/demo/lib.so 64
proc start demo16
proc map demo16 /data/app/demo/lib.so 64
proc start demo17
proc map demo17 /data/app/demo/lib.so 64
proc start demo18
proc map demo18 /data/app/demo/lib.so 64
proc start demo19
proc map demo19 /data/app/demo/lib.so 64
vm file /data/app/demo/lib.so 0
cat /proc/zo_mapped_protect_show | grep -E 'setup|file_mapped_pages:'
# The 20th mapping crosses the threshold: 64 more file pages, running and fresh alike.
proc start demo20
proc map demo20 /data/app/demo/lib.so 64
vm file /data/app/demo/lib.so 0
cat /proc/zo_mapped_protect_show | grep -E 'setup|file_mapped_pages:'
proc start demo21
proc map demo21 /data/app/demo/lib.so 64
cat /proc/zo_mapped_protect_show | grep -E 'setup|file_mapped_pages:'
# Two apps exit: back below the threshold.
proc stop demo21
proc stop demo20
vm file /data/app/demo/lib.so 0
cat /proc/zo_mapped_protect_show | grep -E 'setup|file_mapped_pages:'
# With the switch off the running counts stand still, and what they miss stays missed.
echo 0 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
proc start demo20
proc map demo20 /data/app/demo/lib.so 64
cat /proc/zo_mapped_protect_show | grep -E 'setup|file_mapped_pages:'
echo 1 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
proc stop demo20
cat /proc/zo_mapped_protect_show | grep -E 'setup|file_mapped_pages:'
