# A bundle: quick-charge type, state-of-charge decimal and its rate in one uevent, in that order.
dmesg -C
hw uevent-bundle 0 1 55 3
echo "status $?"
# The uevent itself, the last one sent since boot (its sequence number depends on how many
# devices the boot announced).
uevents | tail -n 15 | grep -v SEQNUM=
dmesg
