# pageshield at boot: its tunables, the statistics report, and stores that fail.
ls -l /sys/module/pageshield/mapped_protect/zo_mapped_protect
cat /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
cat /sys/module/pageshield/mapped_protect/zo_mapped_protect/mapcount_protect_thres
cat /sys/module/pageshield/mapped_protect/zo_mapped_protect/noprotect_thres_control
cat /proc/zo_mapped_protect_show
# 0x1e is 30; the memory thresholds stay.
echo 0x1e > /sys/module/pageshield/mapped_protect/zo_mapped_protect/mapcount_protect_thres
cat /sys/module/pageshield/mapped_protect/zo_mapped_protect/mapcount_protect_thres
echo -1 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/mapcount_protect_thres
echo 4294967296 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/noprotect_thres_control
echo maybe > /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
cat /sys/module/pageshield/mapped_protect/zo_mapped_protect/mapcount_protect_thres
# Divisor 0: every memory threshold is 0.
echo 0 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/noprotect_thres_control
echo 0 > /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
cat /sys/module/pageshield/mapped_protect/zo_mapped_protect/enabled
cat /proc/zo_mapped_protect_show
