# chgnotify under the module loader: it cannot go while the charging driver uses its exports,
# goes cleanly once that driver is gone, and binds again when loaded again.
rmmod chgnotify
echo "status $?"
rmmod charge_reporter
hw uevent 5 1
echo "status $?"
dmesg -C
rmmod chgnotify
echo "status $?"
ls /sys/bus/platform/drivers/chgnotify
ls /sys/devices/platform/chgnotify
dmesg
# A proprietary module may not use the GPL-only exports.
insmod chgnotify
insmod chgnotify_prop
echo "status $?"
insmod charge_reporter
hw uevent 1 50
echo "status $?"
dmesg
