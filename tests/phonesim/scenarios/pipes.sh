# Pipelines and the everyday filters, as one uses them in a device's shell.
cat /proc/meminfo | grep -E 'MemFree|MemAvailable'
dmesg | tail -n 3
ls /dev/memcg/apps | wc -l
ps | grep kswapd
ls /sys/module | sort -r | head -n 3
grep -c kB /proc/meminfo
ls /sys/class/power_supply | grep -i -v USB
# The drivers' boot messages, counted, and the log's length in lines, words and bytes.
dmesg | grep -c -E 'probe|registered'
dmesg | wc -l
# A filter's status says whether it found anything; && and || act on it.
ps | grep -c kswapd && echo "kswapd runs"
cat /proc/meminfo | grep -i zram || echo "no zram"
# A pipeline's status is its last command's.
cat /proc/nothing | wc -c
echo "status $?"
echo MemTotal | grep -v Mem
echo "status $?"
grep MemTotal /proc/meminfo /proc/nothing
echo "status $?"
grep -E 'Mem(' /proc/meminfo
echo "status $?"
head -n x /proc/meminfo
echo "status $?"
# set -e stops at a failing pipeline, but not at one that || tests.
set -e
dmesg | grep nothing-like-this || echo "tested: no stop"
dmesg | grep nothing-like-this
echo "not reached"
