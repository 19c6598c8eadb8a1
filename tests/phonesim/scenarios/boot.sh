# The default phone after boot: its tasks, its modules and the two trees.
ps
lsmod
ls /proc
ls /sys
ls /sys/module
