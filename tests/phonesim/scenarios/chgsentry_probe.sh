# chgsentry's binding with parts of the charging stack missing.
dmesg -C

# Without the USB-PD port the probe waits for it, quietly and without joining any chain.
rmmod chgsentry
hw detach pd_adapter
insmod chgsentry
ls /sys/bus/platform/drivers/chgsentry
cat /sys/kernel/debug/devices_deferred
dmesg -c
hw attach pd_adapter
ls /sys/bus/platform/drivers/chgsentry
dmesg -c

# Without the primary charger it defers after joining its chains, and leaves them again: the
# charge pump's events find nobody until it binds.
rmmod chgsentry
hw detach primary_chg
insmod chgsentry
hw cp event 2
dmesg -c
hw attach primary_chg
hw cp event 2
dmesg -c

# Unbound through sysfs, it neither listens nor checks; bound again, it starts over.
echo chgsentry > /sys/bus/platform/drivers/chgsentry/unbind
ls /sys/bus/platform/drivers/chgsentry
hw cp event 2
sleep 60
dmesg -c
echo chgsentry > /sys/bus/platform/drivers/chgsentry/bind
dmesg -c

# Without the charge pump it binds, and reports the pump as not answering. The battery did not
# change during that first minute, so chgsentry has not yet seen it authenticate either.
rmmod chgsentry
hw detach master_cp_chg
insmod chgsentry
dmesg -c
events -c
sleep 60
events
