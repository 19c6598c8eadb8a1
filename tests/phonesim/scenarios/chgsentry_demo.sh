# chgsentry on a charging phone. A charger goes in and the phone charges for an hour, then the
# battery overheats and cools again; the event channel shows what the diagnostics reported.
cat /sys/class/power_supply/battery/capacity
hw adapter plug
sleep 3600
cat /sys/class/power_supply/battery/capacity
cat /sys/class/power_supply/battery/status
echo "-- an hour of healthy charging: nothing reported"
events

# The battery heats up: TbatHot goes out at the next check (every 5 s while charging), and
# again only once more than five minutes have passed, with the highest temperature seen.
hw battery temp=563
sleep 5
hw battery temp=571
sleep 310
echo "-- overheating"
events -c

# Handed back to the cell model and out of the charger, it cools down: nothing more.
hw battery auto
hw adapter unplug
sleep 600
cat /sys/class/power_supply/battery/temp
echo "-- cooled down"
events
