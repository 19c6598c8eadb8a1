# The camera's flash as a capture uses it: the torch lights the scene, then a timed flash fires
# over it and ends, through the camera driver, the flash LED class and the sub-PMIC LED driver.
dmesg -C
ls /sys/class/subpmic_led_class
hw camera torch-curr 1 100
hw camera torch 1 on
hw camera flash-curr 1 1000
hw camera flash-time 1 600
hw camera flash 1 on
hw led
sleep 0.2
hw camera flash 1 off
hw led
hw camera torch 1 off
# A flash left on ends by its timeout; the driver reports it at its next change.
hw camera flash-time 2 100
hw camera flash 2 on
sleep 0.1
hw led
hw camera flash 2 off
dmesg
# Requests the part cannot do, or that the shell cannot read.
hw camera flash-curr 1 2000
echo "status $?"
hw camera flash-time 1 10
hw camera torch 3 on
hw camera torch 1 bright
hw camera strobe 1 on
hw camera
