# One charging uevent: the charger asks its driver to report a connector temperature of -3 °C;
# it reaches user space as a change uevent of the chgnotify device, and chgnotify logs it.
dmesg -C
hw uevent 5 -3
echo "status $?"
# The bare types carry no value; the log line still shows the one given.
hw uevent 0 42
hw uevent 10 1
# The longest string there is, sent whole.
hw uevent 8 -2147483648
# The uevents as user space sees them: their values, in the order sent (the boot's uevents
# carry none).
uevents | grep -E 'POWER_SUPPLY_|CHG_UEVENT'
dmesg
