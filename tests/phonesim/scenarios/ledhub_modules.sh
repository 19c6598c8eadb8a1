# ledhub stays while the LED and camera drivers use its exports, and leaves nothing behind once
# they are gone; loaded again, the camera waits for its flash device.
dmesg -C
hw camera torch-curr 2 50
hw camera torch 2 on
rmmod ledhub
echo "status $?"
rmmod camera
hw camera torch 2 off
rmmod ledhub
# The LED driver's unbinding takes its LEDs out of the class and turns them off.
rmmod subpmic_led
ls /sys/class/subpmic_led_class
hw led
rmmod ledhub
ls /sys/class/subpmic_led_class
ls /sys/devices/platform/subpmic-led
# The camera comes first this time: its probe waits until the flash device is registered.
insmod ledhub
insmod camera
hw camera torch 2 on
insmod subpmic_led
hw camera torch 2 on
hw led
ls /sys/devices/platform/subpmic-led/subpmic_led_class
dmesg
