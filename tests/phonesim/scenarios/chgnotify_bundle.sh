# A bundle: quick-charge type, state-of-charge decimal and its rate in one uevent, in that order.
dmesg -C
hw uevent-bundle 0 1 55 3
echo "status $?"
# The uevent itself shows with `uevents` (not listed here: it begins with every device's boot
# uevents, which change whenever the phone gains a device).
dmesg
