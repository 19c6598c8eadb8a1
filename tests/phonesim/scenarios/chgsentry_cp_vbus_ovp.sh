# The charge pump signals a bus over-voltage on its chain. chgsentry's callback keeps the flag,
# the next condition check (the first one runs a minute after boot) finds it and wakes the
# report thread, and the thread uploads one record to the event channel.
dmesg -C
events -c
hw cp event vbus_ovp
dmesg
sleep 60
events
dmesg -c

# The flag stands until the adapter is pulled out, and goes out every 10 s, at most three
# times between two plug-ins.
sleep 30
events
