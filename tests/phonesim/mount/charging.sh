#!/bin/sh
# A charging test script written for a device, run unchanged with /bin/sh against the mount:
# it reads the power supplies in sysfs while the phone's own shell (through --attach) plugs an
# adapter, lets time pass, heats the battery and unplugs.
phone_args=--virtual-time
. "$(dirname "$0")/lib.sh"
start_phone

cat > "$work/charging_test.sh" << 'SCRIPT'
#!/bin/sh
# Usage: charging_test.sh ROOT PHONE-SHELL (PHONE-SHELL runs hardware commands from its input)
root=$1 phone=$2
ps=$root/sys/class/power_supply
failed=0
expect() {
  if [ "$2" = "$3" ]; then echo "PASS $1: $2"; else echo "FAIL $1: $2, not $3"; failed=1; fi
}
hw() { echo "$*" | $phone; }

expect "unplugged" "$(cat "$ps/battery/status") $(cat "$ps/usb/online")" "Discharging 0"
hw hw adapter plug svid=12ab verified=0 done=1
hw sleep 60
expect "plugged" "$(cat "$ps/battery/status") $(cat "$ps/usb/online")" "Charging 1"
grep -q '^POWER_SUPPLY_STATUS=Charging$' "$ps/battery/uevent" && echo "PASS uevent says Charging"
hw hw battery temp=500
expect "hot battery" "$(cat "$ps/battery/temp") $(cat "$ps/battery/status")" "500 Not charging"
hw hw battery auto
hw hw adapter unplug
expect "unplugged again" "$(cat "$ps/battery/status")" "Discharging"
exit $failed
SCRIPT

check "the charging test" "$(/bin/sh "$work/charging_test.sh" "$mnt" \
  "$phonesim --attach $mnt" 2>&1; echo "status $?")" \
  "PASS unplugged: Discharging 0
PASS plugged: Charging 1
PASS uevent says Charging
PASS hot battery: 500 Not charging
PASS unplugged again: Discharging
status 0"
finish
