# phonesim-args: --dtb devicetree_disabled.dtb
# A phone whose tree disables the camera and chgnotify: their nodes are in the tree with a
# status file, but no device is made from them, so no driver binds to them.
ls /sys/bus/platform/devices
ls /proc/device-tree
ls -l /proc/device-tree/camera
ls /sys/bus/platform/devices/camera
echo "status $?"
