# The example session of the README (a test checks that the README shows it as it is).
echo abc > /proc/global_reclaim
echo 20000000 > /proc/global_reclaim
cat /proc/global_reclaim; echo
hw cp event vbus_ovp
sleep 60
events
uevents -C
hw uevent 5 -3
uevents
hw uevent 9 0
hw camera torch 1 on
hw led
