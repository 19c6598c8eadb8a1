# Types chgnotify does not support: nothing reaches user space, the charging driver hands the
# error back to the hardware, and the shell prints it.
dmesg -C
hw uevent 9 1
echo "status $?"
hw uevent 11 1
hw uevent -1 1
hw uevent-bundle 1 1 55 3
echo "status $?"
# No uevent with a charging value was sent.
uevents | grep -c -E 'POWER_SUPPLY_|CHG_UEVENT'
dmesg
# With chgnotify unbound the charging driver is told there is no device to report on.
echo chgnotify > /sys/bus/platform/drivers/chgnotify/unbind
hw uevent 5 1
echo "status $?"
echo chgnotify > /sys/bus/platform/drivers/chgnotify/bind
hw uevent 5 1
echo "status $?"
# Words that are not numbers never reach the hardware.
hw uevent 5 hot
hw uevent 5
