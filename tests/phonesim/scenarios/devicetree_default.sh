# The default phone's tree: a platform device for each node with a compatible, the nodes in
# /proc/device-tree (a link to /sys/firmware/devicetree/base), a property file per property.
ls /sys/bus/platform/devices
ls /proc/device-tree
ls -l /proc/device-tree/charger@6b
ls -l /sys/firmware/devicetree
ls /sys/firmware/devicetree/base/cpus
cat /sys/bus/platform/devices/6b.charger/modalias
echo x > /proc/device-tree/model
