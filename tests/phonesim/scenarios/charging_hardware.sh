# The charging stack's hardware and its drivers: the state of every part, the power supplies in
# sysfs, an adapter charging the battery in virtual time, a pinned temperature, a failing
# property read, and the drivers' log lines. chgsentry is unloaded so that its periodic checks
# stay out of the log.
rmmod chgsentry
dmesg -C
hw
ls /sys/class/power_supply
cat /sys/class/power_supply/battery/uevent
cat /sys/class/power_supply/usb/online /sys/class/power_supply/sc-cp-master/temp

# A charger: the battery starts charging.
hw adapter plug svid=12ab verified=0 done=1
sleep 60
cat /sys/class/power_supply/battery/status /sys/class/power_supply/battery/capacity
cat /sys/class/power_supply/usb/voltage_now
sleep 3600
hw
hw battery temp=500
cat /sys/class/power_supply/battery/status
hw battery auto
hw battery fail temp
cat /sys/class/power_supply/battery/temp
cat /sys/class/power_supply/battery/temp
hw adapter unplug
cat /sys/class/power_supply/battery/status

# Controls of the other parts.
hw cp event vac_ovp
hw cp event 99
hw cm event 4 7
hw cm event 5 0
hw usb vbus=4200000
cat /sys/class/power_supply/usb/voltage_now
hw cp-master temp=455
cat /sys/class/power_supply/sc-cp-master/temp
dmesg

# Mistakes are refused.
hw adapter unplug
hw battery volts=3
hw battery status=sideways
hw battery fail health
hw cp event melt
hw cm event 4 300
