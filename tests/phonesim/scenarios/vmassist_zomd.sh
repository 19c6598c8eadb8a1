# vmassist's zomd nodes: a queue of named events between memory services, and a shared number.
# Only this script's kernel messages, not the boot's.
dmesg -C
ls -l /sys/module/vmassist/zomd
cat /sys/module/vmassist/zomd/zomdtrigger
echo -n alpha > /sys/module/vmassist/zomd/zomdtrigger
as zomd@2.0-servic echo -n beta > /sys/module/vmassist/zomd/zomdtrigger
echo gamma > /sys/module/vmassist/zomd/zomdtrigger
cat /sys/module/vmassist/zomd/zomdtrigger
cat /sys/module/vmassist/zomd/zomdtrigger
cat /sys/module/vmassist/zomd/zomdtrigger
cat /sys/module/vmassist/zomd/zomdtrigger
# At most eleven events wait; the twelfth is dropped with a log line.
echo -n e1 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e2 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e3 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e4 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e5 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e6 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e7 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e8 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e9 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e10 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e11 > /sys/module/vmassist/zomd/zomdtrigger
echo -n e12 > /sys/module/vmassist/zomd/zomdtrigger
echo $?
dmesg -c
cat /sys/module/vmassist/zomd/zomdtrigger
echo
cat /sys/module/vmassist/zomd/zomdnotifier
echo -42 > /sys/module/vmassist/zomd/zomdnotifier
cat /sys/module/vmassist/zomd/zomdnotifier
echo 12x > /sys/module/vmassist/zomd/zomdnotifier
cat /sys/module/vmassist/zomd/zomdnotifier
# Unloading frees what is still queued.
rmmod vmassist
ls /sys/module
dmesg
