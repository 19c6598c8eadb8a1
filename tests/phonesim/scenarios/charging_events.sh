# The event channel and the charging stack's modules: chgsentry's report of a bus over-voltage
# read back from /dev/zoev and with `events`, the channel refusing to unload while chgsentry
# uses it, and a charger that vanishes and comes back while chgsentry is rebound.
ls /sys/module/zoev/holders /sys/module/dv_notify/holders
rmmod zoev
hw cp event vbus_ovp
sleep 60
events
cat /dev/zoev
events -c
events

# The charge pump vanishes: its device and supply are gone, chgsentry reports it.
dmesg -C
hw detach master_cp_chg
hw
ls /sys/class/power_supply
ls /sys/class/dv_chargerpump
sleep 600
events -c
hw attach master_cp_chg
ls /sys/class/dv_chargerpump

# Without a fuel gauge chgsentry's probe waits, and binds once the gauge is back.
echo chgsentry > /sys/bus/platform/drivers/chgsentry/unbind
hw detach fuel_gauge
echo chgsentry > /sys/bus/platform/drivers/chgsentry/bind
ls /sys/bus/platform/drivers/chgsentry
hw attach fuel_gauge
ls /sys/bus/platform/drivers/chgsentry
rmmod chgsentry
rmmod zoev
ls /dev
